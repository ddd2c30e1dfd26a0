"""The one error type of the package: what the library and the package refuse, naming the file where one is."""

import os


class Error(RuntimeError):
    """A failure of the library or the package, in one line naming the file it concerns.

    Parameters
    ----------
    problem : str
        What went wrong.
    file : path or None
        The file it concerns; the message is then ``"<file>: <problem>"``.

    Attributes
    ----------
    file : str or None
    problem : str
    """

    def __init__(self, problem, file=None):
        self.file = None if file is None else os.fsdecode(file)
        self.problem = str(problem)
        super().__init__(f"{self.file}: {self.problem}" if self.file else self.problem)
