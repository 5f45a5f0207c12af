#pragma once

// Asks the service control manager to delete the driver's service. A missing service,
// an empty name or an unavailable manager change nothing.
void DeleteDriverService(const char* serviceName);
