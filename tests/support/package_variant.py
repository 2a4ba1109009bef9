#!/usr/bin/python3
"""Writes a copy of an MSI package with SQL statements run on its database:
package variants that wixl cannot author (a MoveFile row, custom actions that
take files from the package's folder).

    package_variant.py PACKAGE.msi VARIANT.msi STATEMENT...

Runs with Debian's Python, which has libmsi's GObject bindings (python3-gi,
gir1.2-libmsi-1.0)."""
import shutil
import sys

import gi

gi.require_version("Libmsi", "1.0")
from gi.repository import Libmsi  # noqa: E402

source, variant, statements = sys.argv[1], sys.argv[2], sys.argv[3:]
shutil.copyfile(source, variant)
database = Libmsi.Database.new(variant, Libmsi.DbFlags.TRANSACT, None)
for statement in statements:
    query = Libmsi.Query.new(database, statement)
    query.execute(None)
    query.close()
database.commit()
