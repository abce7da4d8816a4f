#include <cpu_backend.h>

#include "device_label.h"

std::string deviceLabel()
{
    return "CPU (" + cpu_kernels::activeInstructionSet() + " kernels)";
}
