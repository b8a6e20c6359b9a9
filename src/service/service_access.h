#pragma once

#include "common/error_codes.h"

// What the removal does with a service it has opened with all access.
using ServiceAction = ErrorCode (*)(SC_HANDLE service, const char* serviceName, DWORD* note);

// Opens the manager and the service with all access, hands the service to the action and
// closes both, the service first. A service that does not exist is no error: the action
// does not run, and the note, if given, says 1060. A failure to open without an error
// code gives 2, so that it never reads as success.
ErrorCode WithServiceOpenForAllAccess(const char* serviceName, ServiceAction action, DWORD* note);
