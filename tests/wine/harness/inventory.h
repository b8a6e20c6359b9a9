// What the machine holds, as a set of tagged lines, for before/after comparisons.
#pragma once

#include <functional>
#include <set>
#include <string>

namespace kvxtest {

// Lines such as
//   "device ROOT\KVXA\0000 service=dz4x ids=PCI\VEN_1011&DEV_0046|... inf=oem0.inf"
//   "service Dz4x", "service key Dz4x", "eventlog System\Dz4x",
//   "inf C:\windows\inf\oem0.inf", "driver C:\windows\system32\drivers\dz4xwin2k.sys".
// Names of services, keys and files are lower-cased (the platform ignores their case).
using Inventory = std::set<std::string>;

Inventory TakeInventory();

// The lines of `inventory` for which `drop` is false.
Inventory Without(const Inventory& inventory, const std::function<bool(const std::string&)>& drop);

// Lines in `a` that are not in `b`.
Inventory Difference(const Inventory& a, const Inventory& b);

}  // namespace kvxtest
