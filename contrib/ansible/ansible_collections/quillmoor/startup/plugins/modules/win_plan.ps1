#!powershell
# Applies a reviewed Quillmoor plan on a Windows target through quillmoor.exe,
# which does the work and answers with one JSON object; no Python is needed
# there. quillmoor.startup.plan runs it on Windows targets; its options are
# those of plan.py, whose DOCUMENTATION describes them.

#AnsibleRequires -CSharpUtil Ansible.Basic

$spec = @{
    options = @{
        plan = @{ type = 'path' }
        plan_content = @{ type = 'dict' }
        yes = @{ type = 'bool'; default = $false }
        executable = @{ type = 'path' }
    }
    mutually_exclusive = @(, @('plan', 'plan_content'))
    required_one_of = @(, @('plan', 'plan_content'))
    supports_check_mode = $true
}
$module = [Ansible.Basic.AnsibleModule]::Create($args, $spec)

$program = $module.Params.executable
if (-not $program) {
    $found = Get-Command -Name quillmoor.exe -ErrorAction SilentlyContinue
    if (-not $found) { $module.FailJson('quillmoor.exe was not found on the PATH; copy it there or give executable.') }
    $program = $found.Source
}
$arguments = @{
    plan = if ($module.Params.plan) { $module.Params.plan } else { '' }
    yes = $module.Params.yes
    _ansible_check_mode = $module.CheckMode
    _ansible_diff = $module.DiffMode
}
if ($null -ne $module.Params.plan_content) { $arguments.plan_content = $module.Params.plan_content }
$file = [System.IO.Path]::GetTempFileName()
try {
    [System.IO.File]::WriteAllText($file, (ConvertTo-Json -InputObject $arguments -Depth 20 -Compress))
    $output = & $program ansible-module $file | Out-String
} finally {
    Remove-Item -LiteralPath $file -Force -ErrorAction SilentlyContinue
}
try {
    $answer = ConvertFrom-Json -InputObject $output
} catch {
    $module.FailJson("quillmoor.exe gave no answer: $output")
}
$module.Result.changed = [bool]$answer.changed
$module.Result.results = $answer.results
if ($answer.diff) { $module.Diff.before = $answer.diff.before; $module.Diff.after = $answer.diff.after }
if ($answer.failed) { $module.FailJson($answer.msg) }
$module.Result.msg = $answer.msg
$module.ExitJson()
