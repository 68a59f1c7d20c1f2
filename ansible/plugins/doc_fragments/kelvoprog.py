# -*- coding: utf-8 -*-
# Copyright (c) 2026 The kelvoprog authors
# MIT License (see LICENSE)

from __future__ import absolute_import, division, print_function
__metaclass__ = type


class ModuleDocFragment(object):

    # How every module finds and runs the tool on the site's host.
    DOCUMENTATION = r'''
options:
  executable:
    description:
      - The kelvoprog program on the site's host, as a name looked up on
        C(PATH) or as a path.
      - A wrapper script that runs the tool elsewhere (inside a network
        namespace, say) works as well.
    type: path
    default: kelvoprog
  interface:
    description:
      - Local IPv4 addresses or interface names the tool searches and talks
        through, given to it as C(/interface=A,B).
      - Needs a kelvoprog that knows C(/interface) (C(kelvoprog /?) lists
        it); without this option the tool uses every local interface, or
        C(KELVOPROG_INTERFACE) when that is set.
    type: list
    elements: str
  vendor_id:
    description:
      - One packet magic in hexadecimal instead of the tool's two defaults
        (C(/vendorid)).
    type: str
attributes:
  check_mode:
    description: Can run in check mode and report what would change without changing it.
  diff_mode:
    description: Can show what changes, before and after.
notes:
  - Runs on the site's host, the one on the devices' own network (discovery
    does not cross routers); with C(ansible_connection=local) on that host
    itself.
  - The tool's errors are reported in its own words.
requirements:
  - kelvoprog on the site's host
'''

    # The login for configuration requests and FTP.
    CREDENTIALS = r'''
options:
  username:
    description:
      - Login name for the device (C(KELVOPROG_USERNAME)); the tool's
        default C(root) when absent.
    type: str
  password:
    description:
      - Device password. It reaches the tool through the environment
        variable C(KELVOPROG_PASSWORD), never on its command line, and is
        kept out of every result and log.
      - When absent the tool takes C(KELVOPROG_PASSWORD) from the host's
        environment, else its default.
    type: str
'''

    # Where the tool runs, and so where its result log goes.
    RUN_DIRECTORY = r'''
options:
  chdir:
    description:
      - Directory the tool runs in; it writes its result log
        C(kelvoprog.log) there, replacing the one before.
      - When absent, a temporary directory removed after the task.
    type: path
'''

    # What follows a device's reboot.
    WAIT = r'''
options:
  wait:
    description:
      - How the tool waits for a device after a reboot (C(/wait)),
        C(ready) (ask once a second, go on as soon as the device answers with
        the settings asked for, 120 seconds at most) or a number of seconds
        from 1 to 600.
      - Needs a kelvoprog that knows C(/wait); without this option the tool
        waits 40 seconds, or as C(KELVOPROG_WAIT) says.
    type: raw
'''
