// The PCI bus's rescan, played on the demo machine: a real board that a driver removal took
// off is found again by the next rescan, and Plug and Play gives it the driver staged for
// it. Wine never brings a removed root device back, so this does.
#pragma once

// One rescan: every demo board that is gone is registered again, without a driver, and
// gets the product's staged driver when the system's INF folder holds one for it. Returns
// how many came back; prints a line for each.
int BringBackRemovedBoards();

// Rescans every `interval_ms` for `seconds`, as the bus does while a program removes and
// installs drivers.
void WatchForRemovedBoards(unsigned long seconds, unsigned long interval_ms);
