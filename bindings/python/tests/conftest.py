import os
import shutil
import sqlite3
import subprocess

import pytest


@pytest.fixture
def store(tmp_path):
    """A fresh SQLite store (installed by vardex-cli) with the user clerk (empty password) in
    the user group sales, which holds item 7 "export"."""
    path = tmp_path / "store.db"
    cli = os.environ.get("VARDEX_CLI") or shutil.which("vardex-cli")
    assert cli, "vardex-cli not found (PATH or VARDEX_CLI)"
    conn = f"Provider=SQLite;Data Source={path}"
    subprocess.run([cli, "install", conn], check=True, capture_output=True)
    db = sqlite3.connect(path)
    db.executescript("""
        INSERT INTO qx_Name (qxID, qxName) VALUES (7, 'export');
        INSERT INTO qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou, zuid)
            VALUES ('clerk', 'Clerk', '', '2000-01-01', '2099-12-31', 'T', 0, 10000);
        INSERT INTO qxAddUser VALUES ('clerk');
        INSERT INTO qxAddzuName VALUES ('sales');
        INSERT INTO qxUpDateAllows VALUES ('sales', 7, 'T');
        INSERT INTO qx_user_zu_changed VALUES ('clerk', 'sales', 'T');
    """)
    db.commit()
    db.close()
    return conn
