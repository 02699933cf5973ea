// Spaces derived from spaces: selection, concatenation and element-wise derivatives. Elements
// are copied by value; shapes and mapped elements share their immutable parts.
#include <string>

#include "quorvel/space.hpp"

namespace quorvel {

Result<Space> take(const Space& space, std::span<const std::uint64_t> indices) {
    const std::size_t n = space.size();
    for (std::uint64_t i : indices) {
        if (i >= n)
            return invalid_input("index " + std::to_string(i) + " out of range for " +
                                 std::to_string(n) + " elements");
    }
    std::vector<Element> elements;
    elements.reserve(indices.size());
    for (std::uint64_t i : indices)
        elements.push_back(space.elements[static_cast<std::size_t>(i)]);
    return build_space(std::move(elements));
}

Space concatenate(std::span<const SpacePtr> spaces) {
    std::size_t total = 0;
    for (const SpacePtr& s : spaces)
        total += s->size();
    std::vector<Element> elements;
    elements.reserve(total);
    for (const SpacePtr& s : spaces)
        elements.insert(elements.end(), s->elements.begin(), s->elements.end());
    return build_space(std::move(elements));
}

Result<Space> derivative(const Space& space, std::uint64_t order) {
    std::vector<Element> elements;
    elements.reserve(space.size());
    for (const Element& e : space.elements) {
        QUORVEL_TRY_ASSIGN(Element d, derivative(e, order));
        elements.push_back(std::move(d));
    }
    return build_space(std::move(elements));
}

} // namespace quorvel
