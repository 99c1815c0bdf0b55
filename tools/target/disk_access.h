// Sector-range access on top of the engine: a range of logical sectors becomes requests that
// never cross a track (the console refuses more sectors than a track holds).
#pragma once

#include "engine.h"
#include "fat12.h"

#include <cstdint>
#include <functional>

// Reads `count` sectors from `lba` on into `out`, track by track. Stops at the first request
// that fails and returns its result; `done` (if given) is called after each request with the
// sectors read so far.
TXferResult ReadRange(TTargetEngine& engine, const TBootInfo& geo, uint32_t lba, uint32_t count,
                      uint8_t* out, const std::function<void(uint32_t)>& done = {});

// The boot sector (cylinder 0, head 0, sector 1) into `sector` (512 bytes).
TXferResult ReadBootSector(TTargetEngine& engine, uint8_t* sector);

uint32_t Crc32(const uint8_t* bytes, size_t count, uint32_t crc = 0);
