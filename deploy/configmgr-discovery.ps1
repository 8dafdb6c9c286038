# Configuration Manager configuration item, discovery script (data type String). Its output is the
# compliance value, for the rule "the value returned by the specified script Equals Compliant".
# The scan's exit code 0: Compliant; 1: NonCompliant (stale registrations found: the remediation
# runs), both output with the script exiting 0. Exit code 2 (usage or settings), 3 (a profile or the
# registry could not be read), 4 (internal error) or 5 (busy): passed on, with the summary line on
# standard error, so that the item reports an error rather than a compliance it does not know.
$folder = if ($env:ProgramW6432) { $env:ProgramW6432 } else { $env:ProgramFiles }
$cli = Join-Path $folder 'Quorvane\quorvane-cli.exe'
if (-not (Test-Path -LiteralPath $cli)) { [Console]::Error.WriteLine("missing: $cli"); exit 2 }
$json = [IO.Path]::GetTempFileName()
$lines = @(& $cli scan --output $json)
$code = $LASTEXITCODE
Remove-Item -LiteralPath $json -ErrorAction SilentlyContinue
if ($code -eq 0) { 'Compliant'; exit 0 }
if ($code -eq 1) { 'NonCompliant'; exit 0 }
[Console]::Error.WriteLine("$(@($lines)[-1]) (quorvane-cli.exe exit $code)")
exit $code
