// A header that claims a picture its file cannot fill is turned down before
// any pixel memory is set aside. Every allocation of this program passes
// through the operator new below, which remembers the largest request.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <limits>
#include <new>

#include "pdt/mdl_pdt.h"
#include "tests/core/core_test_support.h"
#include "devtools/pdt_encoder.h"

namespace {
std::atomic<std::size_t> largest_request{0};
}  // namespace

void* operator new(std::size_t size) {
  std::size_t seen = largest_request.load(std::memory_order_relaxed);
  while (size > seen && !largest_request.compare_exchange_weak(seen, size)) {
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

using coretest::Bytes;
using coretest::HeaderBytes;

class PdtMemory : public testing::Test {
 protected:
  // Loads `bytes` from a file and returns the largest allocation made meanwhile.
  std::size_t LargestAllocationLoading(const Bytes& bytes, mdl_pdt::PdtStatus& status) {
    const auto path = dir_ / "claim.pdt";
    coretest::WriteBytes(path, bytes);
    mdl_pdt::PdtHeader header;
    mdl_pdt::PixelBuffer pixels;
    largest_request = 0;
    status = mdl_pdt::LoadPdtFile(path, header, pixels);
    return largest_request.load();
  }
  coretest::TempDir dir_;
};

constexpr std::size_t kSmall = 64 * 1024;

TEST_F(PdtMemory, AHugeClaimInASmallFileAllocatesLittle) {
  const std::int32_t file_sizes[] = {1024, std::numeric_limits<std::int32_t>::max()};
  for (std::int32_t file_size : file_sizes) {
    Bytes file = HeaderBytes("PDT10", file_size, 23170, 23170);
    file.resize(1024, 0xFF);  // all literals: as many pixels as 1 KB can hold
    mdl_pdt::PdtStatus status = mdl_pdt::PdtStatus::Ok;
    EXPECT_LT(LargestAllocationLoading(file, status), kSmall) << "FileSize " << file_size;
    EXPECT_NE(status, mdl_pdt::PdtStatus::Ok);
  }
}

TEST_F(PdtMemory, AClaimBeyondTheFileSizeCostsNoMoreThanTheFile) {
  // FileSize says 2 GB, the file holds 100 payload bytes.
  Bytes file = HeaderBytes("PDT10", std::numeric_limits<std::int32_t>::max(), 10, 10);
  file.resize(132, 0x00);
  mdl_pdt::PdtStatus status = mdl_pdt::PdtStatus::Ok;
  EXPECT_LT(LargestAllocationLoading(file, status), kSmall);
  EXPECT_NE(status, mdl_pdt::PdtStatus::Ok);
}

TEST_F(PdtMemory, AGenuinePictureGetsItsPixelBuffer) {
  // The measurement itself works: a real 300 × 200 picture needs 240000 bytes.
  const auto top_first = coretest::RandomPicture(300, 200, 3, 8, 0.1);
  mdl_pdt::PdtStatus status = mdl_pdt::PdtStatus::CannotOpen;
  const std::size_t largest =
      LargestAllocationLoading(pdtgen::EncodePdt(top_first, 300, 200), status);
  ASSERT_EQ(status, mdl_pdt::PdtStatus::Ok);
  EXPECT_GE(largest, 300u * 200u * 4u);
}

}  // namespace
