#include "Logger.h"

#include <cstdio>

void Logger::logLine(char* buf, std::size_t size) const {
    if (buf == nullptr || size == 0) {
        return;
    }
    // The message holds no conversion, so it is printed as plain text rather than as a format.
    if (message != nullptr) {
        std::snprintf(buf, size, "%s", message);
    } else {
        std::snprintf(buf, size, "%d/%d/%d/%d", reached10000, reached20000, reached10000Large,
                      reached20000Large);
    }
}
