// Another run of the product's setup in progress, as a deployment tool and an administrator
// at the console can start one each: what makes a run refuse with 1618.
#pragma once

// Takes the run lock every setup program takes, says so on one line, and keeps it for
// `seconds`. Returns the system's error when it cannot be taken, else 0.
unsigned long HoldRunLock(unsigned long seconds);
