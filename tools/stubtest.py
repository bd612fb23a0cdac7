#!/usr/bin/env python3
"""tools/stubtest.py: mypy's stubtest of the talvora-stubs package against the
importable extension; options are passed on to stubtest.

The stubs describe the submodules as modules of a package, the one shape in
which stubtest compares their functions with the real ones (a class standing
for a submodule stops it at "is not a type"). At run time the submodules are
attributes of a module that is not a package, so `import talvora.<name>`,
which stubtest does for each stub module, fails; entering the very submodule
objects in sys.modules under those names beforehand lets it check them
without any allowlist.
"""

import sys
import types

import talvora
from mypy import stubtest

for name in talvora.__all__:
    if isinstance(value := getattr(talvora, name), types.ModuleType):
        sys.modules[f"{talvora.__name__}.{name}"] = value
sys.argv.insert(1, talvora.__name__)
sys.exit(stubtest.main())
