"""A short tour of quorvel."""

import quorvel

for x, y in [(0.0, 0.0), (1.0, 0.5), (3.0, 2.0)]:
    print(f"Re w({x} + {y}i) = {quorvel.faddeeva_re(x, y):.15g}")
