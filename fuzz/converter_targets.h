// The converters under fuzzing: for each, the legacy files it reads (filled in
// this order from one fuzz input) and the files it must write.
#pragma once

#include "fuzz_device.h"
#include "sav3/inventory.h"

namespace sav3::fuzz {

struct Target {
  const char* name;
  const Input* inputs;  // ends with {nullptr}
  // Driver-called conversions take no arguments; module converters take
  // (port, sequence), both drawn from the fuzz input.
  int (*run)();
  int (*run_module)(unsigned port, unsigned sequence);
  Output outputs[2];  // "%d" in a path stands for the port; size 0 ends the list
};

inline constexpr Input inventory_inputs[] = {
    {"/mnt/1/cfg/devicedisplay"},    {"/mnt/1/cfg/LQDataItemTmp_1.txt"}, {"/mnt/1/cfg/LQDataItemTmp_2.txt"},
    {"/mnt/1/cfg/ZrtDataItemTmp_1"}, {"/mnt/1/cfg/ZrtDataItemTmp_2"},    {nullptr}};

inline constexpr Target inventory_targets[] = {
    {"device inventory",
     inventory_inputs,
     build_device_inventory,
     nullptr,
     {{"/usr/sav3/data/device", 38, 1}}},
};

}  // namespace sav3::fuzz
