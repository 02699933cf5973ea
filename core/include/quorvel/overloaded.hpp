// A visitor made of several lambdas, for std::visit over the element and profile variants.
#pragma once

namespace quorvel {

template <class... F> struct Overloaded : F... {
    using F::operator()...;
};
template <class... F> Overloaded(F...) -> Overloaded<F...>;

} // namespace quorvel
