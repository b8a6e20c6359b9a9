// Devices that are not the product's, as many as a machine under test needs.
#pragma once

// Registers Root\BENCHDEVnnnnn\0000 for n = 0 .. count - 1, each with a network card's
// PCI hardware IDs and the service "BenchNic", so that the removal reads and compares
// their service names as it would on a customer's machine. Devices already there are
// left as they are. Prints the count and the time taken; false when one could not be
// registered.
bool RegisterForeignDevices(int count);
