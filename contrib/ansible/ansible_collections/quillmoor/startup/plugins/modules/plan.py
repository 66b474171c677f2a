#!/usr/bin/python
# -*- coding: utf-8 -*-
# Applies a reviewed Quillmoor plan on the target through the quillmoor
# program there, which does the work and answers with one JSON object.
from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: plan
short_description: Apply a reviewed Quillmoor plan of startup changes
description:
  - Applies a plan written by C(quillmoor plan export) on the target, with the C(quillmoor) program
    (C(quillmoor.exe) on Windows) found or copied there beforehand.
  - The program finds each item of the plan on the target by its kind, place, name and program,
    plans the change again with the target's own judgement, and makes the plan whole or not at all,
    taking an automatic backup first and keeping every change in the target's history.
  - Each change is reported C(changed), C(unchanged) (already as the plan wants it), C(refused) (with why),
    C(skipped) (another change was refused), C(missing) or C(failed).
  - Linux targets run this Python module; on Windows targets the same task runs C(win_plan.ps1) of the same
    collection, in PowerShell, so no Python is needed there.
version_added: "1.0.0"
options:
  plan:
    description: Path on the target of the plan file. One of I(plan) and I(plan_content) is required.
    type: path
  plan_content:
    description: The plan itself, as the document C(quillmoor plan export) writes.
    type: dict
  yes:
    description: Agree to changes that the target's judgement says need a decision, as C(--yes) does.
    type: bool
    default: false
  executable:
    description: Path of the quillmoor program on the target; by default it is looked for on the PATH.
    type: path
attributes:
  check_mode:
    support: full
  diff_mode:
    support: full
notes:
  - Settings of the quillmoor program (for example C(QUILLMOOR_LINUX_ROOT)) can be given through the
    play's or task's C(environment).
author:
  - Quillmoor developers
'''

EXAMPLES = r'''
- name: Apply the reviewed plan
  quillmoor.startup.plan:
    plan: /tmp/startup-plan.json
    yes: true

- name: See what it would do
  quillmoor.startup.plan:
    plan_content: "{{ lookup('file', 'startup-plan.json') | from_json }}"
  check_mode: true
'''

RETURN = r'''
results:
  description: What became of each change of the plan, in its order.
  returned: always
  type: list
  elements: dict
  contains:
    action: {description: The change asked for, type: str, sample: disable}
    name: {description: The item's name, type: str, sample: Spotify}
    status: {description: changed, unchanged, refused, skipped, missing or failed, type: str}
    message: {description: What was done or why not, type: str}
    before: {description: The item's state before (on, state), type: dict}
    after: {description: The item's state after, type: dict}
msg:
  description: How many changes came to what.
  returned: always
  type: str
  sample: 3 changed, 1 unchanged.
'''

import json
import os
import tempfile

from ansible.module_utils.basic import AnsibleModule


def main():
    module = AnsibleModule(
        argument_spec=dict(
            plan=dict(type='path'),
            plan_content=dict(type='dict'),
            yes=dict(type='bool', default=False),
            executable=dict(type='path'),
        ),
        mutually_exclusive=[('plan', 'plan_content')],
        required_one_of=[('plan', 'plan_content')],
        supports_check_mode=True,
    )
    program = module.params['executable'] or module.get_bin_path('quillmoor', required=True)
    arguments = {
        'plan': module.params['plan'] or '',
        'yes': module.params['yes'],
        '_ansible_check_mode': module.check_mode,
        '_ansible_diff': module._diff,
    }
    if module.params['plan_content'] is not None:
        arguments['plan_content'] = module.params['plan_content']
    handle, path = tempfile.mkstemp(prefix='quillmoor-module-', suffix='.json')
    try:
        with os.fdopen(handle, 'w') as out:
            json.dump(arguments, out)
        rc, stdout, stderr = module.run_command([program, 'ansible-module', path])
    finally:
        os.remove(path)
    try:
        answer = json.loads(stdout)
    except ValueError:
        module.fail_json(msg='quillmoor gave no answer (exit code %d): %s' % (rc, stderr.strip() or stdout.strip()))
    if answer.get('failed'):
        module.fail_json(**answer)
    module.exit_json(**answer)


if __name__ == '__main__':
    main()
