#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright (c) 2026 The kelvoprog authors
# MIT License (see LICENSE)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: kelvo_discover
short_description: List the Kelvo devices a site's host sees
version_added: 1.0.0
description:
  - Runs C(kelvoprog /discover /format=json) on the site's host and returns
    the devices that answered the search.
  - Changes nothing; runs in check mode as well.
author:
  - The kelvoprog authors (!UNKNOWN)
extends_documentation_fragment:
  - kelvo.commissioning.kelvoprog
attributes:
  check_mode:
    support: full
  diff_mode:
    support: none
options: {}
'''

EXAMPLES = r'''
- name: See what answers on the plant network
  kelvo.commissioning.kelvo_discover:
  register: found

- name: Only devices of one packet magic, through one interface
  kelvo.commissioning.kelvo_discover:
    vendor_id: '54454C51'
    interface: [eth1]
  register: found

- name: Show the addresses
  ansible.builtin.debug:
    msg: "{{ found.devices | map(attribute='ip') | list }}"
'''

RETURN = r'''
devices:
  description:
    - The devices as C(/discover /format=json) lists them, with every field
      the tool gives (newer tools may add some, such as C(interface_name)).
  returned: success
  type: list
  elements: dict
  contains:
    ip:
      description: The device's address.
      type: str
      sample: 10.77.0.50
    mac:
      description: Its MAC address.
      type: str
      sample: '02:C0:DE:25:40:74'
    model:
      description: Its model name.
      type: str
      sample: KV-200 Boiler Controller
    subnet:
      description: Its subnet mask.
      type: str
      sample: 255.255.255.0
    gateway:
      description: Its gateway.
      type: str
      sample: 10.77.0.1
    dhcp:
      description: Whether DHCP is on.
      type: bool
      sample: false
    magic:
      description: The packet magic it answered with.
      type: str
      sample: TELQ
    interface:
      description: The local address that received the answer.
      type: str
      sample: 10.77.0.1
    version:
      description: Its firmware version number.
      type: int
      sample: 512
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.kelvo.commissioning.plugins.module_utils.kelvoprog import (
    COMMON_ARGUMENT_SPEC, Kelvoprog)


def main():
    module = AnsibleModule(argument_spec=dict(COMMON_ARGUMENT_SPEC), supports_check_mode=True)
    devices = Kelvoprog(module).discover()
    module.exit_json(changed=False, devices=devices)


if __name__ == '__main__':
    main()
