// Builds a visitor for std::visit from lambdas, one per alternative.
#pragma once

namespace velt {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

}  // namespace velt
