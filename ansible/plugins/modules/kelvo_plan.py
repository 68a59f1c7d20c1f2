#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright (c) 2026 The kelvoprog authors
# MIT License (see LICENSE)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: kelvo_plan
short_description: Commission many Kelvo devices of a site at once
version_added: 1.0.0
description:
  - Runs a plan (C(kelvoprog /set /plan) or C(/upload /plan)) on the site's
    host, several devices at once (C(/parallel)), and returns each device's
    result and the plan's summary.
  - The rows come from the task (I(rows)) or from a CSV file on the site's
    host (I(src)), with the columns the tool reads.
  - With C(command=set) it looks first (C(kelvoprog /discover)); rows whose
    device already reports what the row asks are left out, and when every
    device does, nothing is sent and the task reports no change.
  - Every row runs; then the task fails when any device failed, with each
    failed device's message.
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
    details: >-
      Only looks; reports the rows that would be sent and sends nothing.
      Fails when a row's device did not answer the search.
  diff_mode:
    support: full
    details: The settings before and after of each device a C(set) plan changes.
options:
  command:
    description:
      - C(set) gives each device its network settings, C(upload) sends each
        device I(firmware).
    type: str
    choices: [set, upload]
    default: set
  rows:
    description:
      - The devices of the plan, one a row.
      - Mutually exclusive with I(src).
    type: list
    elements: dict
    suboptions:
      mac:
        description: The device's MAC address.
        type: str
        required: true
      ip:
        description:
          - With C(set) the static address (absent, the device's own); with
            C(upload) the address of its FTP server.
        type: str
      subnet:
        description: The subnet mask (C(set); absent, the device's own).
        type: str
      gateway:
        description: The gateway (C(set); absent, the device's own).
        type: str
      dhcp:
        description: The device takes its address by DHCP (C(set)); I(ip) is then not given.
        type: bool
        default: false
      magic:
        description:
          - Locate the device through this packet magic only (the plan's
            C(magic) column, for a kelvoprog that reads it).
        type: str
  src:
    description:
      - A plan file on the site's host, with the header row and columns the
        tool reads (C(mac), C(ip), C(subnet), C(gateway), and what newer
        tools take, such as the columns of C(/discover /format=csv)).
      - Mutually exclusive with I(rows).
    type: path
  firmware:
    description:
      - The firmware file on the site's host that every device of an
        C(upload) plan gets.
    type: path
  parallel:
    description:
      - Devices worked on at once, 1 to 64 (C(/parallel)); the tool's
        default 8 when absent.
    type: int
'''

EXAMPLES = r'''
- name: The north hall's devices get their addresses
  kelvo.commissioning.kelvo_plan:
    rows:
      - mac: 02c0de000101
        ip: 10.77.0.81
        subnet: 255.255.0.0
      - mac: '02:C0:DE:00:01:02'
        ip: 10.77.0.82
        gateway: 10.77.0.254
      - mac: 02c0de000103
        dhcp: true
    parallel: 16
    password: "{{ vault_kelvo_password }}"

- name: The plan the site keeps in a spreadsheet
  kelvo.commissioning.kelvo_plan:
    src: /srv/commissioning/line3.csv
    password: "{{ vault_kelvo_password }}"

- name: Firmware for every gateway of the line
  kelvo.commissioning.kelvo_plan:
    command: upload
    firmware: /srv/firmware/kv500-2.1.bin
    rows:
      - mac: 02c0de254079
      - mac: 02c0de25407a
    password: "{{ vault_kelvo_password }}"
'''

RETURN = r'''
results:
  description:
    - One entry per row, in the plan's order; those the tool worked on are
      its C(kelvoprog-result/1) objects.
  returned: always
  type: list
  elements: dict
  contains:
    mac:
      description: The device's MAC address.
      type: str
      sample: '02:C0:DE:00:01:01'
    line:
      description: The row's line in the plan (with I(rows) the header is line 1, the first row line 2).
      type: int
      sample: 2
    ok:
      description: Whether the device is as the row asks.
      type: bool
      sample: true
    changed:
      description: Whether the device was (or in check mode would be) changed.
      type: bool
      sample: true
    status:
      description: The exit status a run for this device alone would give.
      type: int
      sample: 0
    message:
      description: The tool's result text for the device.
      type: str
      sample: IP address has been changed.
    changes:
      description: For a C(set) row, the settings that differ from what the device reports.
      type: dict
      sample:
        ip: 10.77.0.81
summary:
  description: The tool's C(kelvoprog-plan/1) summary, when the tool ran.
  returned: when the plan ran
  type: dict
  sample:
    format: kelvoprog-plan/1
    devices: 6
    failed: 0
    not_started: 0
    interrupted: false
    status: 0
'''

import csv
import io
import os
import re
import stat

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.kelvo.commissioning.plugins.module_utils.kelvoprog import (
    COMMON_ARGUMENT_SPEC, CREDENTIAL_ARGUMENT_SPEC, Kelvoprog, describe_network, network_changes,
    network_state, normalize_mac, of_format)

PLAN_FILE_LIMIT = 16 * 1024 * 1024


def csv_line(cells):
    text = io.StringIO()
    csv.writer(text, lineterminator='\n').writerow(cells)
    return text.getvalue()


def rows_plan(module):
    """The task's rows as the lines of a plan file."""
    command = module.params['command']
    rows = module.params['rows']
    columns = ['mac', 'ip'] + (['subnet', 'gateway'] if command == 'set' else [])
    if any(row['magic'] for row in rows):
        columns.append('magic')
    lines = [csv_line(columns)]
    for index, row in enumerate(rows):
        if row['dhcp'] and row['ip']:
            module.fail_json(msg='rows[%d]: ip and dhcp: true exclude each other.' % index)
        if command == 'upload' and (row['dhcp'] or row['subnet'] or row['gateway']):
            module.fail_json(msg='rows[%d]: subnet, gateway and dhcp are for command: set.' % index)
        cells = dict(row, ip='dhcp' if row['dhcp'] else row['ip'])
        lines.append(csv_line([cells[column] or '' for column in columns]))
    return lines


def read_plan_file(module, path):
    """The lines of a plan file on the host (a regular file of bounded size)."""
    try:
        with os.fdopen(os.open(path, os.O_RDONLY | os.O_NONBLOCK), 'rb') as plan:
            if not stat.S_ISREG(os.fstat(plan.fileno()).st_mode):
                raise ValueError('not a regular file')
            data = plan.read(PLAN_FILE_LIMIT + 1)
        if len(data) > PLAN_FILE_LIMIT:
            raise ValueError('larger than %d bytes' % PLAN_FILE_LIMIT)
        return data.decode('utf-8').splitlines(True)
    except OSError as problem:
        module.fail_json(msg='%s: cannot be read: %s' % (path, problem.strerror))
    except ValueError as problem:
        module.fail_json(msg='%s: cannot be read: %s' % (path, problem))


def plan_entries(lines):
    """(line index, cells by column name) of every device row, as the tool reads them."""
    header = None
    entries = []
    for index, line in enumerate(lines):
        text = line.lstrip(u'\ufeff').strip()
        if not text or text.startswith('#'):
            continue
        try:
            cells = next(csv.reader([text]), [])
        except csv.Error:
            cells = []
        if header is None:
            header = [cell.strip().lower() for cell in cells]
            continue
        entries.append((index, dict(zip(header, (cell.strip() for cell in cells)))))
    return entries


def wanted_network(cells):
    if (cells.get('ip') or '').lower() == 'dhcp' or (cells.get('dhcp') or '').lower() == 'true':
        return dict(dhcp=True)
    return dict(dhcp=False, ip=cells.get('ip'), subnet=cells.get('subnet'), gateway=cells.get('gateway'))


def plan_words(params, path):
    words = ['/' + params['command'], '/plan=' + path]
    if params['command'] == 'upload':
        words.append('/firmware=' + os.path.abspath(params['firmware']))
    if params['parallel'] is not None:
        words.append('/parallel=%d' % params['parallel'])
    if params['wait'] is not None and params['command'] == 'set':
        words.append('/wait=%s' % params['wait'])
    return words


def failure_message(failed, total):
    return '%d of %d devices failed: %s' % (len(failed), total, '; '.join(
        '%s (line %s): %s' % (r.get('mac'), r.get('line'), r.get('message')) for r in failed))


def main():
    argument_spec = dict(COMMON_ARGUMENT_SPEC)
    argument_spec.update(CREDENTIAL_ARGUMENT_SPEC)
    argument_spec.update(
        command=dict(type='str', choices=['set', 'upload'], default='set'),
        rows=dict(type='list', elements='dict', options=dict(
            mac=dict(type='str', required=True),
            ip=dict(type='str'),
            subnet=dict(type='str'),
            gateway=dict(type='str'),
            dhcp=dict(type='bool', default=False),
            magic=dict(type='str'),
        )),
        src=dict(type='path'),
        firmware=dict(type='path'),
        parallel=dict(type='int'),
        wait=dict(type='raw'),
        chdir=dict(type='path'),
    )
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True,
                           mutually_exclusive=[('rows', 'src')], required_one_of=[('rows', 'src')],
                           required_if=[('command', 'upload', ('firmware',))])
    params = module.params
    setting = params['command'] == 'set'
    if not setting and not (os.path.isfile(params['firmware']) and os.access(params['firmware'], os.R_OK)):
        module.fail_json(msg='%s is not a readable file.' % params['firmware'])
    lines = rows_plan(module) if params['rows'] is not None else read_plan_file(module, params['src'])
    tool = Kelvoprog(module)

    # What each row asks of a device that already reports it is left out.
    found = tool.devices_by_mac() if setting else {}
    results, missing, diffs = [], [], []
    skipped = set()
    for index, cells in plan_entries(lines):
        mac = normalize_mac(cells.get('mac'))
        device = found.get(mac)
        entry = dict(mac=mac or cells.get('mac'), line=index + 1)
        if not setting:
            results.append(dict(entry, changed=True))
            continue
        if device is None:
            missing.append(entry)
            continue
        changes = network_changes(device, wanted_network(cells))
        if not changes:
            skipped.add(index)
            results.append(dict(entry, ok=True, changed=False, status=0, changes={},
                                message='Already as planned.'))
            continue
        before = network_state(device)
        after = dict(dhcp=True) if changes.get('dhcp') else dict(before, **changes)
        diffs.append(dict(before_header=entry['mac'], after_header=entry['mac'],
                          before=describe_network(before), after=describe_network(after)))
        results.append(dict(entry, changed=True, changes=changes))
    if setting and not missing and len(results) == len(skipped):
        module.exit_json(changed=False, results=results, diff=diffs)
    if module.check_mode:
        if missing:
            module.fail_json(msg='Not found by the search: %s' % ', '.join(
                '%s (line %d)' % (e['mac'], e['line']) for e in missing), results=results)
        module.exit_json(changed=True, results=results, diff=diffs)

    # The plan the tool runs keeps every line where it was (rows left out
    # become empty lines), so that its line numbers are the plan's own.
    path = os.path.join(module.tmpdir, 'plan.csv')
    with io.open(path, 'w', encoding='utf-8', newline='') as plan:
        plan.writelines('\n' if index in skipped else line for index, line in enumerate(lines))
    rc, documents, messages = tool.run(plan_words(params, path), cwd=params['chdir'])
    if params['rows'] is not None:
        def row_of(match):
            return 'rows[%d]:' % (int(match.group(1)) - 2)
        messages = [re.sub(re.escape(path) + r':(\d+):', row_of, text) for text in messages]
    else:
        messages = [m.replace(path, params['src']) for m in messages]
    summaries = of_format(documents, 'kelvoprog-plan/1')
    if not summaries:
        tool.fail(messages, rc, results=[r for r in results if not r['changed']])
    worked = of_format(documents, 'kelvoprog-result/1')
    planned = dict((r['line'], r.get('changes')) for r in results if r['changed'])
    for result in worked:
        result['changed'] = bool(result.get('ok'))
        if setting:
            result['changes'] = planned.get(result.get('line'))
    results = sorted([r for r in results if not r['changed']] + worked, key=lambda r: r.get('line') or 0)
    failed = [r for r in worked if not r.get('ok')]
    changed = any(r['changed'] for r in worked)
    if failed or rc != 0:
        module.fail_json(msg=failure_message(failed, len(results)) if failed else ' '.join(messages),
                         rc=rc, changed=changed, results=results, summary=summaries[0])
    module.exit_json(changed=changed, results=results, summary=summaries[0], diff=diffs)


if __name__ == '__main__':
    main()
