# tests/cpp/tools/data/make_chi2_sf_table.py: writes chi2_sf_255.inc, the
# upper tail of the chi-square distribution with 255 degrees of freedom as
# scipy computes it, the reference of the p-value test. Run once, inside
# the root: python3.14 make_chi2_sf_table.py > chi2_sf_255.inc
import numpy as np
from scipy.stats import chi2


def points() -> list[float]:
    near_zero = np.geomspace(1e-6, 100.0, 60)
    body = np.linspace(100.0, 600.0, 401)  # where the tail falls from 1 to ~1e-30
    far = np.linspace(600.0, 5000.0, 221)
    odd = [254.0, 255.0, 256.0, 256.5, 257.0, 257.5, 258.0]  # around x = a and a + 1
    return sorted({0.0, *near_zero, *body, *far, *odd})


print("// chi, scipy.stats.chi2.sf(chi, 255); made by make_chi2_sf_table.py")
for x in points():
    print(f"{{{float(x)!r}, {float(chi2.sf(x, 255))!r}}},")
