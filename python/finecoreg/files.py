"""How the package writes files: by the library's own rules, so Python and C++ writers agree.

An output is written under ``"<target>.tmp.<pid>"`` and renamed over its
target only when complete; a failure (Ctrl-C included) removes the
temporary. Outputs are checked against inputs by file identity before any
work starts.
"""

import os


def write_atomically(path, write):
    """Calls write(temporary path), then renames the temporary over path; removes it when write raises.

    Returns
    -------
    path
    """
    from ._core import PendingOutput

    with PendingOutput(path) as temporary:
        write(temporary)
    return path


def check_outputs(outputs, inputs):
    """Refuses outputs that are inputs (or each other) by file identity, before anything is written.

    Parameters
    ----------
    outputs, inputs : iterable of (path, role)
        Paths with what they are ("resampled slave", "slave image" ...); None paths are left out.

    Raises
    ------
    Error
        Naming the output and the input it would overwrite.
    """
    from ._core import check_outputs_are_not_inputs

    check_outputs_are_not_inputs([(os.fspath(p), role) for p, role in outputs if p is not None],
                                 [(os.fspath(p), role) for p, role in inputs if p is not None])
