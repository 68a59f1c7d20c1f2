# -*- coding: utf-8 -*-
# Copyright (c) 2026 The kelvoprog authors
# MIT License (see LICENSE)
"""Running kelvoprog on the site's host and reading its JSON output.

The modules never parse the tool's console text for results: every run asks
for /format=json, where standard output holds only JSON documents and the
banner, progress and errors go to standard error.
"""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json
import os
import re
import socket

COMMON_ARGUMENT_SPEC = dict(
    executable=dict(type='path', default='kelvoprog'),
    interface=dict(type='list', elements='str'),
    vendor_id=dict(type='str'),
)

CREDENTIAL_ARGUMENT_SPEC = dict(
    username=dict(type='str'),
    password=dict(type='str', no_log=True),
)

BANNER_PREFIXES = ('Kelvo Programmer', 'Version ', 'Copyright ')
MAC_RE = re.compile(r'^(?:0x)?([0-9A-Fa-f]{12})$|^([0-9A-Fa-f]{2}(?::[0-9A-Fa-f]{2}){5})$')


def normalize_mac(text):
    """02C0DE123456, 02:c0:de:12:34:56 or 0x02C0DE123456 as 02:C0:DE:12:34:56; None otherwise."""
    match = MAC_RE.match((text or '').strip())
    if not match:
        return None
    digits = (match.group(1) or match.group(2)).replace(':', '').upper()
    return ':'.join(digits[i:i + 2] for i in range(0, 12, 2))


def normalize_ipv4(text):
    """A dotted address in its usual form, so that 10.77.0.01 and 10.77.0.1 compare equal."""
    text = (text or '').strip()
    try:
        return socket.inet_ntoa(socket.inet_aton(text)) if text.count('.') == 3 else text
    except OSError:
        return text


def json_documents(text):
    """Every JSON value on the tool's standard output, in order."""
    decoder = json.JSONDecoder()
    documents = []
    position = 0
    while True:
        while position < len(text) and text[position].isspace():
            position += 1
        if position >= len(text):
            return documents
        try:
            value, position = decoder.raw_decode(text, position)
        except ValueError:
            return documents
        documents.append(value)


def of_format(documents, name):
    """The documents that say they are of the format name."""
    return [d for d in documents if isinstance(d, dict) and d.get('format') == name]


def tool_messages(stderr):
    """The tool's error lines, else its last line that is not the banner."""
    lines = [line.rstrip() for line in (stderr or '').splitlines()]
    lines = [line for line in lines if line.strip() and not line.startswith(BANNER_PREFIXES)]
    errors = [line for line in lines if line.startswith('ERROR')]
    return errors or lines[-1:]


class Kelvoprog(object):
    """kelvoprog as one module's parameters configure it."""

    def __init__(self, module):
        self.module = module
        params = module.params
        executable = params['executable']
        if os.sep in executable:
            if not (os.path.isfile(executable) and os.access(executable, os.X_OK)):
                module.fail_json(msg='%s is not an executable file.' % executable)
            self.path = executable
        else:
            self.path = module.get_bin_path(executable, required=True)
        if params.get('chdir') and not os.path.isdir(params['chdir']):
            module.fail_json(msg='chdir: %s is not a directory.' % params['chdir'])
        self.environment = {}
        if params.get('password'):
            self.environment['KELVOPROG_PASSWORD'] = params['password']
        if params.get('username'):
            self.environment['KELVOPROG_USERNAME'] = params['username']

    def search_words(self):
        """The words that choose where and how devices are searched."""
        params = self.module.params
        words = []
        if params.get('interface'):
            words.append('/interface=' + ','.join(params['interface']))
        if params.get('vendor_id'):
            words.append('/vendorid=' + params['vendor_id'])
        return words

    def run(self, words, cwd=None):
        """(status, JSON documents, error messages) of one run.

        The tool writes its result log into its working directory, so every
        run gets one: the caller's, else the module's own temporary one.
        """
        args = [self.path] + words + self.search_words() + ['/format=json']
        rc, out, err = self.module.run_command(
            args, cwd=cwd or self.module.tmpdir, environ_update=self.environment, check_rc=False,
            expand_user_and_vars=False, ignore_invalid_cwd=False,
            encoding='utf-8', errors='surrogate_or_replace')
        return rc, json_documents(out), tool_messages(err)

    def run_for_result(self, words, cwd=None, **extra):
        """The one result of a /set or /upload; the task fails with its message otherwise."""
        rc, documents, messages = self.run(words, cwd)
        results = of_format(documents, 'kelvoprog-result/1')
        result = results[0] if results else None
        if rc != 0 or result is None or not result.get('ok'):
            message = result.get('message') if result else None
            self.fail([message] if message else messages, rc, result=result, **extra)
        return result

    def fail(self, messages, rc, **extra):
        self.module.fail_json(
            msg=' '.join(messages) or 'kelvoprog ended with status %d.' % rc, rc=rc, **extra)

    def discover(self):
        """The devices the search finds, as /discover describes them."""
        rc, documents, messages = self.run(['/discover'])
        listing = of_format(documents, 'kelvoprog-discover/1')
        if rc != 0 or not listing:
            self.fail(messages, rc)
        return listing[0].get('devices', [])

    def devices_by_mac(self):
        return dict((normalize_mac(d.get('mac')), d) for d in self.discover())


def network_state(device):
    """The settings of a device that a network change compares."""
    return dict(dhcp=bool(device.get('dhcp')), ip=device.get('ip'),
                subnet=device.get('subnet'), gateway=device.get('gateway'))


def network_changes(device, want):
    """What a device must change to match want (dhcp, ip, subnet, gateway).

    With DHCP asked for only the flag counts (the lease gives the rest); a
    static address, mask or gateway left empty is the device's own.
    """
    if want.get('dhcp'):
        return {} if device.get('dhcp') else dict(dhcp=True)
    changes = {}
    if device.get('dhcp'):
        changes['dhcp'] = False
    for key in ('ip', 'subnet', 'gateway'):
        value = want.get(key)
        if value and normalize_ipv4(value) != normalize_ipv4(device.get(key)):
            changes[key] = value
    return changes


def describe_network(state):
    """A state for a diff, one setting a line (the settings it holds)."""
    lines = []
    for key in ('dhcp', 'ip', 'subnet', 'gateway'):
        value = state.get(key)
        if key == 'dhcp':
            value = 'true' if value else 'false'
        if value is not None:
            lines.append('%s: %s\n' % (key, value))
    return ''.join(lines)
