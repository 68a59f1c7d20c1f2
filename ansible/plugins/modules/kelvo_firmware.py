#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright (c) 2026 The kelvoprog authors
# MIT License (see LICENSE)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: kelvo_firmware
short_description: Upload a firmware file to a Kelvo device
version_added: 1.0.0
description:
  - Sends a firmware file that is on the site's host to one device's FTP
    server through C(kelvoprog /upload).
  - Every run that is not in check mode uploads the file and reports a
    change.
author:
  - The kelvoprog authors (!UNKNOWN)
extends_documentation_fragment:
  - kelvo.commissioning.kelvoprog
  - kelvo.commissioning.kelvoprog.credentials
  - kelvo.commissioning.kelvoprog.run_directory
attributes:
  check_mode:
    support: full
    details: >-
      Checks that the file can be read and, with I(mac), that the device
      answers the search; sends nothing to it.
  diff_mode:
    support: none
options:
  src:
    description:
      - The firmware file on the site's host. Its file name names the file
        on the device.
    type: path
    required: true
  mac:
    description:
      - The device's MAC address; the file goes to the address the device
        reports.
    type: str
  ip:
    description:
      - The address of the device's FTP server; the tool then works on the
        first device that answers its search.
    type: str
'''

EXAMPLES = r'''
- name: New firmware for the line gateway
  kelvo.commissioning.kelvo_firmware:
    src: /srv/firmware/kv500-2.1.bin
    mac: 02c0de254079
    password: "{{ vault_kelvo_password }}"
'''

RETURN = r'''
result:
  description: The tool's result (C(kelvoprog-result/1)).
  returned: when the file was sent
  type: dict
  sample:
    format: kelvoprog-result/1
    command: upload
    mac: '02:C0:DE:25:40:79'
    ip: 10.77.0.2
    status: 0
    ok: true
    message: 'SUCCESS: Firmware image uploaded to device.'
'''

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.kelvo.commissioning.plugins.module_utils.kelvoprog import (
    COMMON_ARGUMENT_SPEC, CREDENTIAL_ARGUMENT_SPEC, Kelvoprog, normalize_mac)


def main():
    argument_spec = dict(COMMON_ARGUMENT_SPEC)
    argument_spec.update(CREDENTIAL_ARGUMENT_SPEC)
    argument_spec.update(
        src=dict(type='path', required=True),
        mac=dict(type='str'),
        ip=dict(type='str'),
        chdir=dict(type='path'),
    )
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True,
                           mutually_exclusive=[('mac', 'ip')], required_one_of=[('mac', 'ip')])
    params = module.params
    src = params['src']
    if not (os.path.isfile(src) and os.access(src, os.R_OK)):
        module.fail_json(msg='%s is not a readable file.' % src)
    tool = Kelvoprog(module)
    target = '/ip=' + params['ip'] if params['ip'] else '/mac=' + params['mac']
    if module.check_mode:
        if params['mac']:
            mac = normalize_mac(params['mac'])
            if mac not in tool.devices_by_mac():
                module.fail_json(msg='Device %s did not answer the search.' % params['mac'])
        module.exit_json(changed=True)

    result = tool.run_for_result(['/upload', '/firmware=' + os.path.abspath(src), target],
                                 cwd=params['chdir'])
    module.exit_json(changed=True, result=result)


if __name__ == '__main__':
    main()
