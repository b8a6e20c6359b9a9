// Stopping and deleting the product's services. None of these waits for a service to
// reach the stopped state: each sends the stop control and goes on.
#pragma once

#include "common/error_codes.h"

// Stops the service; a service that does not exist (note 1060) or is not running (note
// 1062) counts as stopped. The note is optional and set to 0 first. Any other failure is
// returned, as 2 when the platform gave no error code, so the service is not deleted.
ErrorCode StopServiceTolerant(const char* serviceName, DWORD* note);

// Marks the service for deletion and deletes its System event-log source key. A service
// that does not exist is not an error.
ErrorCode DeleteServiceAndEventSource(const char* serviceName);

// Deletes the service only when it could be stopped (or was not there to stop).
void StopAndDeleteService(const char* serviceName);
