// vxavs test bed: a stand-in for the NeoBook host. It loads a plug-in DLL, calls its entry points
// as a host does, answers its callbacks and records everything that passes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "testbed_common.h"

typedef char *HostStringSlot;

// The plug-in's eight entry points, as the host finds them in its export table.
struct PlugInEntryPoints {
    void(__stdcall *initPlugIn)(DWORD, HostStringSlot *, HostStringSlot *, HostStringSlot *);
    void(__stdcall *registerPlugIn)(void *, void *, void *, void *);
    void(__stdcall *registerInterfaceAccess)(void *);
    void(__stdcall *registerScriptProcessor)(void *);
    BOOL(__stdcall *execAction)(int, const char *const *);
    BOOL(__stdcall *editAction)(int, HostStringSlot *);
    void(__stdcall *message)(int, DWORD);
    void(__stdcall *about)(void);
};

// The decorated export names a host looks up.
extern const char *const kEntryPointNames[8];

struct AddActionCall {
    uint32_t number;
    std::string name;
    bool hintIsNull;
    std::vector<uint8_t> typeCodes;  // `count` bytes
    uint32_t count;
    uint32_t countAgain;  // the sixth word; only seen by a six-word callback
};

struct VariableWrite {
    bool nameIsNull;
    std::string name;
    bool valueIsNull;
    std::string value;
};

struct ObjectQuery {
    uint32_t requestCode;
    std::string name;  // as read from the exchange block on entry
};

// How the add-action callback is declared: hosts differ on the sixth word.
enum AddActionShape { kAddActionSixWords, kAddActionFiveWords };

// How the host answers object queries.
enum ObjectAnswerMode {
    kAnswerFromTable,     // the table below; unknown names get "0"
    kLeaveBlockUnchanged, // the host does not touch the exchange block
    kAnswerNullAddress,   // the host puts a null address in the block
};

struct StandinHost {
    HMODULE module;
    std::string moduleName;  // the file name it was loaded by
    int threadsAtLoad;       // the process's threads just before the load
    PlugInEntryPoints entry;
    DWORD initValue;
    HostStringSlot identity[3];  // title, author, description: host-owned blocks
    std::vector<AddActionCall> addActions;
    std::vector<VariableWrite> variableWrites;
    std::map<std::string, std::string> variables;
    std::vector<ObjectQuery> objectQueries;
    std::map<std::string, std::string> objectAnswers;
    ObjectAnswerMode answerMode;
    uint8_t lastExchangeBlock[64];  // the exchange block as the plug-in handed it, on entry
    bool echo;                      // print each callback to stdout as it happens
};

// The one host of this process (callbacks carry no context).
extern StandinHost gHost;

// Loads the DLL and resolves the eight entry points; false (and nothing loaded) when either fails.
bool HostLoadPlugIn(const char *dllPath);
// The hand-shake in the order a host makes it: init, register, interface access, script processor.
void HostHandshake(AddActionShape shape = kAddActionSixWords);
// Releases the identity blocks the host owns and unloads the DLL; clears every record. A plug-in whose
// helper thread still holds it for a moment is waited for (a few seconds at most), so that the next
// load starts it from zero; one that keeps itself loaded (a window procedure of it still in a window,
// a reply still owed to it) stays.
void HostUnloadPlugIn();
void HostClearRecords();

// Runs an action by number with the given parameter texts (nullptr entries pass null addresses).
BOOL HostExecAction(int number, const std::vector<const char *> &parameters);
// The number the plug-in registered for an action name, or -1.
int HostActionNumber(const std::string &name);

// Object table: the answer text for a name; HostSetObjectWindow answers with the window's handle.
void HostSetObjectAnswer(const std::string &name, const std::string &answer);
void HostSetObjectWindow(const std::string &name, HWND window);

// The last value written to a variable ("" when never written or written null); whether any write.
std::string HostVariable(const std::string &name);
bool HostVariableWritten(const std::string &name);

// Callbacks, exposed so tests can hand them over in other orders or shapes.
void __stdcall HostAddActionSixWords(uint32_t number, const char *name, const char *hint, const uint8_t *types,
                                     uint32_t count, uint32_t countAgain);
void __stdcall HostAddActionFiveWords(uint32_t number, const char *name, const char *hint, const uint8_t *types,
                                      uint32_t count);
void __stdcall HostSetVariable(const char *name, const char *value);
void __stdcall HostInterfaceAccess(uint32_t requestCode, uint8_t *block);

// ---- Fault injection: the plug-in's own USER32 calls refused as Windows would refuse them.

// One call the plug-in made through a redirected import: its stack words, and whether it was refused.
struct ImportCall {
    std::string function;
    std::vector<DWORD> words;
    bool refused;
    DWORD error;  // the GetLastError it was refused with
    DWORD tick;   // GetTickCount when it was made
    DWORD thread; // GetCurrentThreadId of the caller
    DWORD result; // what the real function returned; 0 when refused or still running
    DWORD returnTick;  // GetTickCount when it returned; 0 while still running
};

// From now on the loaded plug-in's calls to `function` (a USER32 function it imports by name; also
// KERNEL32's GlobalAlloc and GlobalFree, to be watched with times 0) fail,
// returning 0 with GetLastError `error`: every call (times -1) or the next `times` calls, after which
// they reach the real function again (times 0: none refused, the calls only recorded). False when no plug-in is loaded, the function is not among those
// this test bed can refuse, or the plug-in does not import it. Cleared by HostUnloadPlugIn.
bool HostRefuseImport(const char *function, DWORD error, int times = -1);
// Records the plug-in's calls to `function` from now on, as HostRefuseImport with times 0 does, but
// leaves a refusal or hook already set for it as it is. False as for HostRefuseImport.
bool HostWatchImport(const char *function);
// Makes a refusal real: `before` runs on the calling thread, with the call's stack words, ahead of the
// plug-in's next `times` calls to `function` (-1: every call); each call is then refused or passed on as HostRefuseImport
// says (by default passed on, so that the real function meets what the hook did: a window its owner
// destroyed fails as Windows fails it). False as for HostRefuseImport. Cleared by HostClearRefusals.
typedef void (*ImportCallHook)(const std::vector<DWORD> &words);
bool HostBeforeImport(const char *function, ImportCallHook before, int times = 1);
// Every import entry back to the real function; the call records are cleared too.
void HostClearRefusals();
// The calls made through redirected imports since the last clear, in order; null: every function.
std::vector<ImportCall> HostImportCalls(const char *function = nullptr);
// Records the plug-in's GlobalAlloc and GlobalFree calls from now on; a refusal already set stays.
// Wine takes a block freed twice without a word, and a slot left holding a freed block may still read
// well: the records tell both.
bool HostWatchBlocks();
// How often the plug-in passed `block` to GlobalFree since it last got that address from GlobalAlloc
// (or since the watch began, for a block it did not allocate).
int HostFreesOf(const void *block);
// How often the plug-in passed `block`, one the host handed it, to GlobalFree before it got that address
// from GlobalAlloc for a block of its own: a freed block's address is soon handed out again.
int HostFreesOfHostBlock(const void *block);
// Reads "NAME=ERROR" or "NAME=ERROR*TIMES" (vxhost --refuse); false when malformed.
bool ParseRefusal(const char *text, std::string *function, DWORD *error, int *times);
