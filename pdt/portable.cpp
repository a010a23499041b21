// The portable kernel: plain C++, for every processor.
#include "pdt/kernels.h"

#define QUILLON_PDT_TARGET
#include "pdt/generic_kernel.h"
#include "pdt/group_loop.h"

namespace mdl_pdt::detail {

Step PortableGroups(std::span<const std::uint8_t> bytes, std::size_t& in, Output& out) {
  return RunGroups<GenericKernel<ScalarOps>>(bytes, in, out);
}

}  // namespace mdl_pdt::detail
