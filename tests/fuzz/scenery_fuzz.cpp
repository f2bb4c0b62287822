// libFuzzer target: the scenery readers (billboards, statues, flaggers, decals) over the same
// bytes, with no textures or models behind them.
#include "scenery_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_scenery(data, size);
    return 0;
}
