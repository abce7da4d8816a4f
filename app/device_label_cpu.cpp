#include "cpu_backend/dispatch/instruction_set_choice.h"
#include "device_label.h"

std::string deviceLabel()
{
    return "CPU (" + cpu_kernels::activeInstructionSet() + " kernels)";
}
