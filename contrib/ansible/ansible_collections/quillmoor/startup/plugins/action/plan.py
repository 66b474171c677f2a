# -*- coding: utf-8 -*-
# quillmoor.startup.plan on any target: the Python module on targets with a
# POSIX shell, its PowerShell twin (win_plan) on Windows targets, which need
# no Python. Both hand the arguments to the quillmoor program there.
from __future__ import absolute_import, division, print_function
__metaclass__ = type

from ansible.plugins.action import ActionBase


class ActionModule(ActionBase):
    _supports_check_mode = True
    _supports_async = False

    def run(self, tmp=None, task_vars=None):
        result = super(ActionModule, self).run(tmp, task_vars)
        windows = getattr(self._connection._shell, 'SHELL_FAMILY', '') == 'powershell'
        module = 'quillmoor.startup.win_plan' if windows else 'quillmoor.startup.plan'
        result.update(self._execute_module(module_name=module, module_args=self._task.args, task_vars=task_vars))
        return result
