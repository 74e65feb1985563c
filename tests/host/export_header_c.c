/* vxavs tests: the export header as a host written in C includes it. Built, never run: a construct that
   is C++ only, or an entry point declared without a prototype, fails the build. */
#include "vxavs.h"
