/* vxavs: the eight entry points the NeoBook host calls. Compiles as C and as C++. */
#ifndef VXAVS_H
#define VXAVS_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A host-owned string slot: 0 or a fixed GlobalAlloc block holding a zero-terminated text. */
typedef char *HostStringSlot;

/* Called once after load: the plug-in hands over its title, author and description. */
void __stdcall nbInitPlugIn(DWORD value, HostStringSlot *titleSlot, HostStringSlot *authorSlot,
                            HostStringSlot *descriptionSlot);
/* Called to hand over the add-action, two unused and the set-variable callbacks; registers the actions. */
void __stdcall nbRegisterPlugIn(void *addAction, void *callback2, void *callback3, void *setVariable);
/* Called to hand over the callback for object queries. */
void __stdcall nbRegisterInterfaceAccess(void *interfaceAccess);
/* Called to hand over a value that is kept and never used. */
void __stdcall nbRegisterScriptProcessor(void *scriptProcessor);
/* Called when a publication runs an action: 1 when the number is known, else 0. */
BOOL __stdcall nbExecAction(int number, const char *const *parameters);
/* Called when an author edits an action's parameters: re-stores slots of actions 1 and 2; always 1. */
BOOL __stdcall nbEditAction(int number, HostStringSlot *slots);
/* Called to notify the plug-in: message 2 gives an embedded visualizer window back. */
void __stdcall nbMessage(int message, DWORD extra);
/* Called when the author asks for the About box; returns when the box is closed. */
void __stdcall nbAbout(void);

#ifdef __cplusplus
}
#endif

#endif
