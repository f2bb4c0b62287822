// Placeholder entry point until the driver's start-up sequence lands.
#include "platform/log.h"

int main(int, char **)
{
    log_printf("Skorva\n");
    log_printf(nullptr);
    return 0;
}
