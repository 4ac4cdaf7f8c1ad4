#pragma once

#include <cstddef>
#include <cstdint>

// Statistics of the search and the text of its latest anomaly. One per engine; written by the
// thread that owns the engine, never reset.
struct Logger {
    // Lookups run at millions a second for hours: these pass 2^31 within minutes.
    int64_t hits = 0;
    int64_t ageCollisions = 0;
    int64_t chainMisses = 0;
    int64_t bucketMisses = 0;
    const char* message = nullptr; ///< constant text, not owned; null until an anomaly
    int32_t reached10000 = 0;
    int32_t reached20000 = 0;
    int32_t reached10000Large = 0;
    int32_t reached20000Large = 0;

    void countHit() { ++hits; }
    void countAgeCollision() { ++ageCollisions; }
    void countChainMiss() { ++chainMisses; }
    void countBucketMiss() { ++bucketMisses; }
    void setMessage(const char* text) { message = text; }

    /// Writes the one-line summary into buf, never more than size bytes (terminator included).
    void logLine(char* buf, std::size_t size = 200) const;
};
