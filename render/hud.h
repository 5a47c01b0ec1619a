// The HUD over the world while this machine has a player: the fuse row with its travelling
// spark and the fuse time, the gunpowder barrel filled to the blast strength, the barrels still
// free to place, the stacked pickup notices and, while the "Score" key is held, the score table.
// Positions are screen pixels taken from the frame record's screen width and height;
// texts use typeface 1.
#pragma once

// After the name tags and before the chat. Draws nothing without a local player. The HUD's spark
// (a copy of "Spark HUD") follows the end of the fuse row. Ages the notices as it draws them:
// past its expiry a notice loses one alpha step per frame and is removed once its alpha falls
// below 0. The score table follows while the score key is held.
void DrawHud(bool scoreKeyHeld);

// The round line, the column heads and one row per player in list order. DrawHud calls it
// while the score key is held.
void DrawScoreTable();
