"""tools/sid-root.sh takes the Debian mirror to build the sid root from out of
the host's own apt sources, TALVORA_MIRROR overriding it, and says clearly
when neither names one; the repository itself names no mirror."""

import os
import pathlib
import re
import subprocess

import pytest

from support import DEBUG_INTERPRETER, SANITIZED

ROOT = pathlib.Path(__file__).resolve().parents[2]

# Shell functions do not depend on the interpreter: one pass checks them.
pytestmark = pytest.mark.skipif(DEBUG_INTERPRETER or SANITIZED, reason="runs on the release interpreter only")

OS_RELEASE = 'PRETTY_NAME="Debian GNU/Linux 12 (bookworm)"\nID=debian\nVERSION_CODENAME=bookworm\n'

# A host like the ones talvora is built on: its release, its updates and
# security suites, and third-party repositories, some with suites or
# components that could be taken for the release's.
SOURCES_LIST = """\
# deb http://commented.example/debian bookworm main
deb-src http://source.example/debian bookworm main
deb [arch=amd64 signed-by=/usr/share/keyrings/docker.gpg] https://docker.example/linux/debian bookworm stable
deb cdrom:[Debian 12]/ bookworm main
deb [ signed-by=/usr/share/keyrings/debian.gpg ] http://list.example/debian bookworm main contrib
deb http://list.example/debian-security bookworm-security main
"""

DEBIAN_SOURCES = """\
Types: deb-src
URIs: http://source.example/debian
Suites: bookworm
Components: main

Types: deb
# a comment inside a stanza
URIs: http://off.example/debian
Suites: bookworm
Components: main
Enabled: no

types: deb deb-src
URIs: http://first.example/debian
  http://second.example/debian
Suites: bookworm-updates
 bookworm
Components: contrib
 main
"""

THIRD_PARTY_SOURCES = """\
Types: deb
URIs: https://vendor.example/node_20.x
Suites: nodistro
Components: main
"""


def run(function, apt, *, env=None):
    script = f'. tools/sid-root.sh && {function} "$1" "$2"'
    return subprocess.run(["bash", "-c", script, "sid-root", str(apt), str(apt / "os-release")], cwd=ROOT,
                          env=env, capture_output=True, text=True, timeout=30)


def apt_dir(tmp_path, sources_list=None, parts=None, os_release=OS_RELEASE):
    apt = tmp_path / "apt"
    (apt / "sources.list.d").mkdir(parents=True)
    (apt / "os-release").write_text(os_release)
    if sources_list is not None:
        (apt / "sources.list").write_text(sources_list)
    for name, text in (parts or {}).items():
        (apt / "sources.list.d" / name).write_text(text)
    return apt


@pytest.mark.parametrize("sources_list, parts, mirror", [
    (SOURCES_LIST, {}, "http://list.example/debian"),
    (None, {"debian.sources": DEBIAN_SOURCES}, "http://first.example/debian"),
    # apt's order: sources.list, then the parts by name, either format.
    (SOURCES_LIST, {"debian.sources": DEBIAN_SOURCES}, "http://list.example/debian"),
    (None, {"a-vendor.sources": THIRD_PARTY_SOURCES, "b.list": SOURCES_LIST,
            "c.sources": DEBIAN_SOURCES, "d.list.disabled": "deb http://no.example/debian bookworm main\n"},
     "http://list.example/debian"),
    # A host that runs sid itself.
    ("deb http://sid.example/debian sid main\n", {}, "http://sid.example/debian"),
], ids=["one-line", "deb822", "list-first", "by-name", "sid-host"])
def test_mirror_from_the_hosts_apt_sources(tmp_path, sources_list, parts, mirror):
    done = run("host_mirror", apt_dir(tmp_path, sources_list, parts))
    assert (done.returncode, done.stdout, done.stderr) == (0, mirror + "\n", "")


def test_override_and_clear_error_when_no_mirror(tmp_path):
    apt = apt_dir(tmp_path, None, {"vendor.sources": THIRD_PARTY_SOURCES,
                                   "ubuntu.list": "deb http://ubuntu.example/ubuntu jammy main\n"})
    env = {k: v for k, v in os.environ.items() if k != "TALVORA_MIRROR"}
    done = run("debian_mirror", apt, env=env)
    assert done.returncode == 1 and done.stdout == ""
    assert "cannot tell which Debian mirror" in done.stderr and "set TALVORA_MIRROR" in done.stderr
    done = run("debian_mirror", apt, env=dict(env, TALVORA_MIRROR="http://override.example/debian"))
    assert (done.returncode, done.stdout) == (0, "http://override.example/debian\n")
    done = run("debian_mirror", apt_dir(tmp_path / "host", SOURCES_LIST),
               env=dict(env, TALVORA_MIRROR="http://override.example/debian"))
    assert done.stdout == "http://override.example/debian\n"


# Debian's archive host names, as a pattern that does not spell one out.
ARCHIVE_HOST = re.compile(r"\b(deb|ftp[0-9]*(\.[a-z]{2})?|httpredir|snapshot|security)\.debian\.org\b")


def test_the_repository_names_no_archive_host():
    listed = subprocess.run(["git", "ls-files", "-co", "--exclude-standard"], cwd=ROOT, capture_output=True,
                            text=True, check=True).stdout.split("\n")
    named = [f for f in filter(None, listed)
             if (ROOT / f).is_file() and ARCHIVE_HOST.search((ROOT / f).read_text(errors="replace"))]
    assert named == []
