# Copyright (c) 2026 The kelvoprog authors
# MIT License (see LICENSE)
"""ansible-test, with its sanity checks run by the Python that runs it.

ansible-test normally installs pinned linters from the Python package index
into a virtual environment for each sanity check. This machine reaches only
Debian's packages, so the checks run with /usr/bin/python3 and Debian's
pylint, pycodestyle, yamllint and voluptuous instead; nothing is fetched.
usage: sanity_offline.py sanity [ansible-test options]
"""

import sys

from ansible_test._internal import util
from ansible_test._internal.commands import sanity


def interpreter_itself(args, python, name, coverage=False, minimize=False):  # pylint: disable=unused-argument
    """The checks' Python is the one ansible-test found, with what it has installed."""
    return python


def show_output(stdout, stderr):
    """A failing check's output, also when one of its streams was not captured."""
    return SHOW_OUTPUT(stdout or '', stderr or '')


SHOW_OUTPUT = util.format_command_output
util.format_command_output = show_output
sanity.create_sanity_virtualenv = interpreter_itself
sanity.check_sanity_virtualenv_yaml = lambda python: True  # Debian's PyYAML has libyaml

if __name__ == '__main__':
    from ansible_test._internal import main
    main(sys.argv)
