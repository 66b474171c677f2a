#!/usr/bin/python
# -*- coding: utf-8 -*-
# The documentation of win_plan.ps1, which quillmoor.startup.plan runs on
# Windows targets; use quillmoor.startup.plan in playbooks.
from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: win_plan
short_description: Apply a reviewed Quillmoor plan on a Windows target (run by quillmoor.startup.plan)
description:
  - The Windows form of M(quillmoor.startup.plan), in PowerShell, so that no Python is needed on the target.
    C(quillmoor.startup.plan) picks it for Windows targets by itself; its options are the same.
version_added: "1.0.0"
options:
  plan:
    description: Path on the target of the plan file.
    type: path
  plan_content:
    description: The plan itself.
    type: dict
  yes:
    description: Agree to changes that need a decision.
    type: bool
    default: false
  executable:
    description: Path of quillmoor.exe on the target; by default it is looked for on the PATH.
    type: path
author:
  - Quillmoor developers
'''
