// SHA-256, for the image digest that results and records carry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class Sha256 {
 public:
  Sha256();
  void Add(const uint8_t* bytes, size_t count);
  // The digest of everything added, as 64 lowercase hex digits; ends the computation.
  std::string HexDigest();

 private:
  void Compress(const uint8_t* block);
  uint32_t state_[8];
  uint8_t block_[64];
  size_t used_ = 0;
  uint64_t total_ = 0;
};
