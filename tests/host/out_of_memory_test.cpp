// vxavs tests: when memory runs out, a text the plug-in cannot copy is the empty text and the action
// still runs to its end. The address space is filled up to make large allocations fail for real.

#include "plugin_fixture.h"
#include "standin_player.h"

// Reserves every free region of at least 1 MiB, so that no large allocation can succeed while small
// ones still can; released again by the destructor.
struct AddressSpaceFiller {
    std::vector<void *> regions;
    AddressSpaceFiller() {
        for (SIZE_T size = 1u << 30; size >= (1u << 20); size /= 2) {
            for (;;) {
                void *region = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
                if (region == nullptr) break;
                regions.push_back(region);
            }
        }
    }
    ~AddressSpaceFiller() {
        for (void *region : regions) VirtualFree(region, 0, MEM_RELEASE);
    }
};

using OutOfMemoryTest = PlugInTest;

// On a thread, quiet: a line the player logged while the address space is full could not be kept.
static const bool kQuiet = true;

TEST_F(OutOfMemoryTest, ATextThatCannotBeCopiedIsEmptyAndTheActionGoesOn) {
    ASSERT_TRUE(StartPlayer(PlayerOptions(), ThreadPlayerStart(kQuiet)));
    ASSERT_TRUE(PlayerSetReply(5));
    // 7 followed by 24 MiB of letters: read whole it is 7; as the empty text it is 0.
    std::string wParamText = "7" + std::string(24u << 20, 'x');
    {
        AddressSpaceFiller filler;
        void *probe = HeapAlloc(GetProcessHeap(), 0, wParamText.size() + 1);
        ASSERT_EQ(probe, nullptr) << "the address space could not be filled";
        Run(3, {"WM_USER", wParamText.c_str(), "9"});
    }
    std::vector<PlayerCommand> commands = PlayerCommandList();
    StopPlayer();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].wParam, 0u);
    EXPECT_EQ(commands[0].lParam, 9u);
    EXPECT_EQ(ResultWrites(), (std::vector<std::string>{"(null)", "5"}));

    // With memory back, the same text reads 7.
    ASSERT_TRUE(StartPlayer(PlayerOptions(), ThreadPlayerStart(kQuiet)));
    Run(3, {"WM_USER", wParamText.c_str(), "9"});
    commands = PlayerCommandList();
    StopPlayer();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].wParam, 7u);
}
