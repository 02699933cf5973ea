// faddeeva_re: the real part of the Faddeeva function, lock held (one evaluation is cheap).
#include "quorvel/faddeeva.hpp"

#include "binder.hpp"
#include "registry.hpp"

namespace quorvel::py {

namespace {

double faddeeva_re_impl(const double& x, const double& y) {
    return faddeeva(x, y).re;
}

constexpr Entry faddeeva_re_entry{
    nullptr, "faddeeva_re(x, y)\n--\n\nRe w(x + iy) for y >= 0, w the Faddeeva function."};
const Member members[] = {module_function<faddeeva_re_entry, faddeeva_re_impl>()};

} // namespace

const Members faddeeva_members = members;

} // namespace quorvel::py
