// What an installer engineer looks at before and after an install or a removal.
#pragma once

// Prints the product's devices (instance ID, driver service, installed driver, hardware
// IDs), the product's services and the files of the INF store.
void PrintMachine();
