#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright (c) 2026 The kelvoprog authors
# MIT License (see LICENSE)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: kelvo_network
short_description: Give a Kelvo device a static address or DHCP
version_added: 1.0.0
description:
  - Makes one device, named by its MAC address, report the static address,
    subnet mask and gateway asked for, or DHCP, through C(kelvoprog /set) on
    the site's host.
  - Looks first (C(kelvoprog /discover)); when the device already reports
    what is asked, nothing is sent and the task reports no change.
  - A change that needs a reboot waits for the device as the tool does
    (40 seconds, or as I(wait) says).
author:
  - The kelvoprog authors (!UNKNOWN)
extends_documentation_fragment:
  - kelvo.commissioning.kelvoprog
  - kelvo.commissioning.kelvoprog.credentials
  - kelvo.commissioning.kelvoprog.run_directory
  - kelvo.commissioning.kelvoprog.wait
attributes:
  check_mode:
    support: full
    details: Only looks; reports what would change and sends no configuration request.
  diff_mode:
    support: full
    details: The device's settings before and after.
options:
  mac:
    description:
      - The device's MAC address, as C(02C0DE123456), C(02:c0:de:12:34:56)
        or C(0x02C0DE123456).
    type: str
    required: true
  dhcp:
    description:
      - Whether the device takes its address by DHCP. With C(true) the
        options I(ip), I(subnet) and I(gateway) are not used.
    type: bool
    default: false
  ip:
    description:
      - The static address. When absent the device keeps its own.
    type: str
  subnet:
    description:
      - The subnet mask. When absent the device keeps its own.
    type: str
  gateway:
    description:
      - The gateway. When absent the device keeps its own.
    type: str
'''

EXAMPLES = r'''
- name: The boiler controller gets its plant address
  kelvo.commissioning.kelvo_network:
    mac: 02c0de254074
    ip: 10.77.0.80
    subnet: 255.255.255.0
    gateway: 10.77.0.1
    password: "{{ vault_kelvo_password }}"

- name: The sensor takes its address by DHCP
  kelvo.commissioning.kelvo_network:
    mac: '02:c0:de:25:40:76'
    dhcp: true
    password: "{{ vault_kelvo_password }}"
    wait: ready
'''

RETURN = r'''
device:
  description: The device as the search found it before any change.
  returned: when the device answered the search
  type: dict
  sample:
    ip: 10.77.0.50
    mac: '02:C0:DE:25:40:74'
    model: KV-200 Boiler Controller
    subnet: 255.255.255.0
    gateway: 10.77.0.1
    dhcp: false
changes:
  description: The settings that differ from what the device reports (and are, or would be, sent).
  returned: always
  type: dict
  sample:
    ip: 10.77.0.80
result:
  description: The tool's result (C(kelvoprog-result/1)) when it ran.
  returned: when a change was sent
  type: dict
  sample:
    format: kelvoprog-result/1
    command: set
    mac: '02:C0:DE:25:40:74'
    ip: 10.77.0.80
    status: 0
    ok: true
    message: IP address has been changed.
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.kelvo.commissioning.plugins.module_utils.kelvoprog import (
    COMMON_ARGUMENT_SPEC, CREDENTIAL_ARGUMENT_SPEC, Kelvoprog, describe_network, network_changes,
    network_state, normalize_mac)


def set_words(mac, params):
    words = ['/set', '/mac=' + mac]
    if params['dhcp']:
        words.append('/ip=dhcp')
    else:
        words.extend('/%s=%s' % (key, params[key])
                     for key in ('ip', 'subnet', 'gateway') if params[key])
    if params['wait'] is not None:
        words.append('/wait=%s' % params['wait'])
    return words


def main():
    argument_spec = dict(COMMON_ARGUMENT_SPEC)
    argument_spec.update(CREDENTIAL_ARGUMENT_SPEC)
    argument_spec.update(
        mac=dict(type='str', required=True),
        dhcp=dict(type='bool', default=False),
        ip=dict(type='str'),
        subnet=dict(type='str'),
        gateway=dict(type='str'),
        wait=dict(type='raw'),
        chdir=dict(type='path'),
    )
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True)
    params = module.params
    mac = normalize_mac(params['mac'])
    if mac is None:
        module.fail_json(msg='The mac value is not a MAC address such as 02C0DE123456.')
    if params['dhcp'] and any(params[key] for key in ('ip', 'subnet', 'gateway')):
        module.fail_json(msg='ip, subnet and gateway are not used with dhcp: true.')

    tool = Kelvoprog(module)
    device = tool.devices_by_mac().get(mac)
    want = dict((key, params[key]) for key in ('dhcp', 'ip', 'subnet', 'gateway'))
    if device is None:
        changes = dict((key, value) for key, value in want.items() if value is not None)
        before = {}
    else:
        changes = network_changes(device, want)
        before = network_state(device)
    after = dict(dhcp=True) if params['dhcp'] else dict(before, **changes)
    diff = dict(before_header=mac, after_header=mac,
                before=describe_network(before), after=describe_network(after))
    if device is not None and not changes:
        module.exit_json(changed=False, device=device, changes={}, diff=diff)
    if module.check_mode:
        if device is None:
            module.fail_json(msg='Device %s did not answer the search.' % mac, changes=changes)
        module.exit_json(changed=True, device=device, changes=changes, diff=diff)

    # A device the search missed is still asked: the tool's own location
    # tells whether it is there.
    result = tool.run_for_result(set_words(mac, params), cwd=params['chdir'], changes=changes)
    extra = {} if device is None else dict(device=device)
    module.exit_json(changed=True, changes=changes, result=result, diff=diff, **extra)


if __name__ == '__main__':
    main()
