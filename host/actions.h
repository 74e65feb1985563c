// vxavs action procedures: the host's entry points call these; they live with the player's windows.
// Texts are counted texts that stay valid for the length of the call.
#pragma once

#include <string_view>

void DropAVSFile(std::string_view path, std::string_view unused);
void EmbedAVS(std::string_view objectName, std::string_view mode);
void UnembedAVS();
void SendWnpCommand(std::string_view messageName, std::string_view wParamText, std::string_view lParamText);

// The player side's process-wide variables to zero (load), and what it keeps open let go (unload).
void ResetPlayerState();
void ClosePlayerState();
