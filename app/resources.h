// Resource loading at start-up.
#pragma once

// Opens every data archive in turn and loads its resources; a missing archive is skipped and its
// resources stay missing.
void LoadResources();
