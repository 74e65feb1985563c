// vxavs: the player side's process-wide variables at load and unload, each file resetting its own.

#include "../host/actions.h"
#include "player_windows.h"
#include "visualizer_mover.h"

void ResetPlayerState() {
    ResetWindowDiscovery();
    ResetEmbedding();
    ResetPlayerCommand();
    ResetMover();
}

// Only when the library is let go of while the process goes on. A window procedure of ours in a
// host window holds the library loaded, and so does the helper thread while it runs, so neither is
// left behind here.
void ClosePlayerState() { CloseMover(); }
