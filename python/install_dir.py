"""Prints where the finecoreg package goes under an install prefix (argv[1]), relative to it.

/usr and /usr/local get the places this interpreter searches there (Debian's
dist-packages); any other prefix the interpreter's layout for a prefix of
its own, lib/python3.X/site-packages.
"""

import sys
import sysconfig


def package_dir(prefix):
    prefix = prefix.rstrip("/") or "/"
    base = {"base": prefix, "platbase": prefix}
    schemes = sysconfig.get_scheme_names()
    if prefix == "/usr" and "deb_system" in schemes:
        path = sysconfig.get_path("platlib", "deb_system", base)
    elif prefix == "/usr/local" and "posix_local" in schemes:
        path = sysconfig.get_path("platlib", "posix_local", {"base": "/usr", "platbase": "/usr"})
    else:
        path = sysconfig.get_path("platlib", "posix_prefix", base)
    return path[len(prefix):].lstrip("/") if path.startswith(prefix) else path


if __name__ == "__main__":
    print(package_dir(sys.argv[1]))
