#!/usr/bin/python3
"""Writes a copy of an MSI package with SQL statements run on its database:
package variants that wixl cannot author (a MoveFile row, custom actions that
take files from the package's folder).

    package_variant.py PACKAGE.msi VARIANT.msi [--package-code-of=OTHER.msi] STATEMENT...

--package-code-of stamps the copy with OTHER.msi's package code (summary
information, revision number), as anyone can who has read OTHER.msi.

Runs with Debian's Python, which has libmsi's GObject bindings (python3-gi,
gir1.2-libmsi-1.0)."""
import shutil
import sys

import gi

gi.require_version("Libmsi", "1.0")
from gi.repository import Libmsi  # noqa: E402

PACKAGE_CODE_OF = "--package-code-of="

source, variant, statements = sys.argv[1], sys.argv[2], sys.argv[3:]
package_code = None
if statements and statements[0].startswith(PACKAGE_CODE_OF):
    other = Libmsi.Database.new(statements.pop(0)[len(PACKAGE_CODE_OF):], Libmsi.DbFlags.READONLY, None)
    package_code = Libmsi.SummaryInfo.new(other, 0).get_string(Libmsi.Property.UUID)
shutil.copyfile(source, variant)
database = Libmsi.Database.new(variant, Libmsi.DbFlags.TRANSACT, None)
for statement in statements:
    query = Libmsi.Query.new(database, statement)
    query.execute(None)
    query.close()
if package_code is not None:
    summary = Libmsi.SummaryInfo.new(database, 1)
    summary.set_string(Libmsi.Property.UUID, package_code)
    summary.persist()
database.commit()
