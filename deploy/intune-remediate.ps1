# Intune Remediations, remediation script (run as SYSTEM). Runs quorvane-cli.exe clean --yes with
# the JSON document in a temporary file (--output, UTF-8 whatever the code page) and prints its
# summary line last. Exit code: 0 everything selected done, or nothing to do; 2 usage or settings;
# 3 an action failed or was refused, or a profile could not be read; 4 internal error; 5 busy.
$folder = if ($env:ProgramW6432) { $env:ProgramW6432 } else { $env:ProgramFiles }
$cli = Join-Path $folder 'Quorvane\quorvane-cli.exe'
if (-not (Test-Path -LiteralPath $cli)) { "quorvane: missing=$cli exit=2"; exit 2 }
$json = [IO.Path]::GetTempFileName()
$lines = @(& $cli clean --yes --output $json @args)
$code = $LASTEXITCODE
Remove-Item -LiteralPath $json -ErrorAction SilentlyContinue
$summary = @($lines | Where-Object { $_ -like 'quorvane: *' })
if ($summary.Count -gt 0) { $summary[-1] } else { "quorvane: exit=$code" }
exit $code
