// vxavs: the x87 state the number reader needs, set for the length of one entry point.
#pragma once

#include <cstdint>

// Hosts may run with 53-bit precision (0x027F) or with exceptions unmasked (0x1332). Numbers are read
// in 64-bit precision with every exception masked; on the way out the sticky flags our work raised
// are cleared and the host's environment (control word included) is put back as it was.
struct NumberMode {
    uint8_t hostEnvironment[28];
    NumberMode() {
        static const uint16_t kExtendedMasked = 0x037F;
        // fnstenv also masks every exception, so nothing can trap between the two instructions.
        __asm__ volatile("fnstenv %0\n\tfldcw %1" : "=m"(hostEnvironment) : "m"(kExtendedMasked) : "memory");
    }
    ~NumberMode() { __asm__ volatile("fnclex\n\tfldenv %0" : : "m"(hostEnvironment) : "memory"); }
    NumberMode(const NumberMode &) = delete;
    NumberMode &operator=(const NumberMode &) = delete;
};
