// The module's debugger output, printed by the host as it is written.
#pragma once

// Installs a handler that prints every OutputDebugStringA write of this process, one
// "trace| " line per line of text. Install it before the module is loaded so that its
// entry line shows as well.
void StartTraceEcho();

// Prints a line that was started but not ended by "\n" (ended here), so that it does not
// run into the host's own output.
void FlushTraceEcho();
