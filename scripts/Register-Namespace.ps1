<#
.SYNOPSIS
Registers Sortwell.NamespaceShellExtension.dll for the current user, so that Explorer shows the
"Sortwell" and "Quick pins" roots in its navigation pane; -Unregister removes them again.

.DESCRIPTION
For developers on Windows; the suite's installer registers the DLL for end users. The entries are those
of registration.txt beside this script (shared with register.sh, which registers in Wine prefixes).
Everything goes under HKEY_CURRENT_USER: the COM classes under Software\Classes, the namespace entries
under Software\Microsoft\Windows\CurrentVersion\Explorer. No administrator rights are needed.
Run it from a 64-bit PowerShell (an ARM64 one for an ARM64 build of the DLL). Open Explorer windows
pick the roots up after a restart of Explorer at the latest.

.EXAMPLE
scripts\Register-Namespace.ps1 -Dll build\bin\Release\Sortwell.NamespaceShellExtension.dll

.EXAMPLE
scripts\Register-Namespace.ps1 -Unregister
#>
[CmdletBinding()]
param(
    # The built DLL; required unless -Unregister is given.
    [string]$Dll,
    [switch]$Unregister
)

Set-StrictMode -Version Latest
$ErrorActionPreference = 'Stop'

if (-not [Environment]::Is64BitProcess) {
    throw 'Run this script from a 64-bit PowerShell: a 32-bit one writes the 32-bit view of the classes, which Explorer does not read.'
}

$description = Join-Path $PSScriptRoot 'registration.txt'
$roots = @()
$entries = @()
foreach ($line in Get-Content -LiteralPath $description -Encoding UTF8) {
    $text = $line.Trim()
    if ($text -eq '' -or $text.StartsWith('#')) { continue }
    $fields = @($text.Split('|') | ForEach-Object { $_.Trim() })
    if ($fields[0] -eq 'root' -and $fields.Count -eq 5) {
        $roots += [pscustomobject]@{ Clsid = $fields[1]; Name = $fields[2]; SortOrder = $fields[3]; Icon = $fields[4] }
    }
    elseif ($fields[0] -eq 'entry' -and $fields.Count -eq 7) {
        $entries += [pscustomobject]@{ Hive = $fields[1]; Key = $fields[2]; Value = $fields[3]; Type = $fields[4]; Data = $fields[5]; Removal = $fields[6] }
    }
    else {
        throw "Malformed line in ${description}: $line"
    }
}

if (-not $Unregister) {
    if (-not $Dll) { throw 'Give the DLL to register with -Dll (or use -Unregister).' }
    $Dll = (Resolve-Path -LiteralPath $Dll).ProviderPath
    if (-not (Test-Path -LiteralPath $Dll -PathType Leaf)) { throw "No DLL at $Dll" }
}

# A registry path below HKEY_CURRENT_USER for a hive of the description.
function Get-HivePath([string]$hive) {
    switch ($hive) {
        'classes' { return 'Software\Classes' }
        'user' { return '' }
        default { throw "Unknown hive '$hive' in $description" }
    }
}

function Expand-Placeholders([string]$text, $root) {
    return $text.Replace('{clsid}', $root.Clsid).Replace('{name}', $root.Name).Replace(
        '{sort_order}', $root.SortOrder).Replace('{icon}', $root.Icon).Replace('{dll}', $Dll)
}

# The value of an entry as .NET's registry API takes it: a DWORD goes in as the Int32 of the same bits.
function ConvertTo-RegistryValue([string]$type, [string]$data) {
    switch ($type) {
        'REG_SZ' { return @($data, [Microsoft.Win32.RegistryValueKind]::String) }
        'REG_EXPAND_SZ' { return @($data, [Microsoft.Win32.RegistryValueKind]::ExpandString) }
        'REG_DWORD' {
            $number = if ($data -match '^0[xX]') { [Convert]::ToUInt32($data.Substring(2), 16) } else { [Convert]::ToUInt32($data, 10) }
            return @([BitConverter]::ToInt32([BitConverter]::GetBytes($number), 0), [Microsoft.Win32.RegistryValueKind]::DWord)
        }
        default { throw "Unknown type '$type' in $description" }
    }
}

$user = [Microsoft.Win32.Registry]::CurrentUser
foreach ($root in $roots) {
    if (-not $Unregister) {
        foreach ($entry in $entries) {
            $path = (@((Get-HivePath $entry.Hive), (Expand-Placeholders $entry.Key $root)) | Where-Object { $_ }) -join '\'
            $name = Expand-Placeholders $entry.Value $root
            if ($name -eq '@') { $name = '' }
            $value, $kind = ConvertTo-RegistryValue $entry.Type (Expand-Placeholders $entry.Data $root)
            $key = $user.CreateSubKey($path)
            try { $key.SetValue($name, $value, $kind) } finally { $key.Dispose() }
        }
        Write-Host "Registered '$($root.Name)' $($root.Clsid): $Dll"
    }
    else {
        # Deepest entries first; a key goes with everything below it, a shared key keeps all but our value.
        for ($i = $entries.Count - 1; $i -ge 0; $i--) {
            $entry = $entries[$i]
            $path = (@((Get-HivePath $entry.Hive), (Expand-Placeholders $entry.Key $root)) | Where-Object { $_ }) -join '\'
            switch ($entry.Removal) {
                'key' { $user.DeleteSubKeyTree($path, $false) }
                'value' {
                    $key = $user.OpenSubKey($path, $true)
                    if ($key) {
                        $name = Expand-Placeholders $entry.Value $root
                        if ($name -eq '@') { $name = '' }
                        try { $key.DeleteValue($name, $false) } finally { $key.Dispose() }
                    }
                }
                default { throw "Unknown removal '$($entry.Removal)' in $description" }
            }
        }
        Write-Host "Unregistered '$($root.Name)' $($root.Clsid)"
    }
}

# Tell the shell that class registrations changed, so that new windows show the change. (A second run
# in the same session finds the type already there.)
if (-not ('Velmora.Shell' -as [type])) {
    Add-Type -Namespace Velmora -Name Shell -MemberDefinition @'
[System.Runtime.InteropServices.DllImport("shell32.dll")]
public static extern void SHChangeNotify(int eventId, uint flags, System.IntPtr item1, System.IntPtr item2);
'@
}
$SHCNE_ASSOCCHANGED = 0x08000000
[Velmora.Shell]::SHChangeNotify($SHCNE_ASSOCCHANGED, 0, [IntPtr]::Zero, [IntPtr]::Zero)
