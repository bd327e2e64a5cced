"""quillcore: what the processors of this machine are and can do.

    >>> import quillcore
    >>> machine = quillcore.describe()
    >>> len(machine.processors), machine.packages, quillcore.has_feature("avx2")

Everything comes from the quillcore library, found through QUILLCORE_LIBRARY,
the install tree this package was installed into, or the system's loader
(QUILLCORE_SIM_LIBRARY and the same places for the simulated library that
replays CPUID dumps)."""

from ._describe import describe, has_feature
from ._model import Cache, Group, Hypervisor, Machine, Processor, Report, Tlb

__all__ = ["describe", "has_feature", "Machine", "Group", "Processor", "Cache", "Tlb", "Hypervisor", "Report"]
