// The only place that knows which platform the module is built for: the real Win32
// headers on Windows, the stand-in platform's header of the same names elsewhere.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <setupapi.h>
#include <newdev.h>
#include <cfgmgr32.h>
#include <stdio.h>
#else
#include <kvxsim/win32.h>
#endif
