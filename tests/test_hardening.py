"""A launcher that is safe to run from a Downloads folder: its manifest and
version resource, the runtime file held between the checks and the load,
no DLL planting, and the signed release build."""
import os
import re
import xml.etree.ElementTree as ET

import pytest

from conftest import ROOT, build_path
from fixtures.harden import RT_MANIFEST, RT_VERSION, PeResources, read_version_info


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        match = re.search(r"^project\(odrel VERSION (\d+)\.(\d+)\.(\d+)", f.read(), re.M)
    return tuple(int(part) for part in match.groups())


@pytest.fixture(scope="module")
def launcher_resources():
    with open(build_path("odrel.exe"), "rb") as f:
        return PeResources(f.read())


ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}


@pytest.mark.host_only
def test_manifest_runs_as_invoker_on_windows_7_to_11(launcher_resources):
    # The loader reads the manifest of an exe as resource 1 of type 24.
    assert list(launcher_resources.tree.get(RT_MANIFEST, {})) == [1]
    root = ET.fromstring(launcher_resources.one(RT_MANIFEST))
    assert root.tag == ASM_V1 + "assembly" and root.get("manifestVersion") == "1.0"
    levels = root.findall(".//%srequestedExecutionLevel" % ASM_V3)
    assert [(e.get("level"), e.get("uiAccess")) for e in levels] == [("asInvoker", "false")]
    assert levels[0] in root.find("%strustInfo/%ssecurity/%srequestedPrivileges"
                                  % (ASM_V3, ASM_V3, ASM_V3))
    ids = [e.get("Id") for e in root.findall("%scompatibility/%sapplication/%ssupportedOS"
                                             % (COMPATIBILITY, COMPATIBILITY, COMPATIBILITY))]
    assert sorted(ids) == sorted(SUPPORTED_OS)


@pytest.mark.host_only
def test_version_resource_carries_the_project_version(launcher_resources):
    fixed, strings = read_version_info(launcher_resources.one(RT_VERSION))
    version = project_version()
    assert fixed["file_version"] == version + (0,)
    assert fixed["product_version"] == version + (0,)
    assert fixed["file_os"] == 0x40004      # VOS_NT_WINDOWS32
    assert fixed["file_type"] == 1          # VFT_APP
    dotted = "%d.%d.%d" % version
    assert strings["FileVersion"] == dotted
    assert strings["ProductVersion"] == dotted
    assert strings["ProductName"] == "Odrel Online"
    assert strings["FileDescription"] == "Odrel Online launcher"
    assert strings["OriginalFilename"] == "odrel.exe"
