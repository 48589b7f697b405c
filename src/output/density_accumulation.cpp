#include "output/density_accumulation.hpp"

namespace densities {

// Filled in by the field-phase work.
void accumulate_densities() {}

}  // namespace densities
