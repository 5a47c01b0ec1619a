// Resource loading at start-up, and the renderer warmed up with it.
#pragma once

// Opens every data archive in turn and loads its resources; a missing archive is skipped and its
// resources stay missing.
void LoadResources();

// Draws every picture loaded at start-up once, under the blend pairs the game draws it with, and
// the light pass, into the back buffer, waits until the renderer has drawn them and clears it. A
// software renderer builds its drawing code for each new combination on first use, which would
// otherwise stall the first frames of the menus and of a match. Each picture shows one pixel, so
// the filling costs nothing.
void WarmUpRenderer();
