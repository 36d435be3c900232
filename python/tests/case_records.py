"""Reading the case database back for the tests: an image's records."""

import json


def database_records(db, image_id):
    """The records of an image as the case database holds them, in order
    (None first for an image that had no image record)."""
    tables = [name for (name,) in db.execute(
        "SELECT name FROM sqlite_master WHERE type = 'table' AND name != 'images'")]
    rows = []
    for table in tables:
        rows += db.execute('SELECT seq, record FROM "%s" WHERE image_id = ?' % table,
                           (image_id,)).fetchall()
    first, last = db.execute("SELECT record, end_record FROM images WHERE image_id = ?",
                             (image_id,)).fetchone()
    return ([None if first is None else json.loads(first)]
            + [json.loads(r) for _, r in sorted(rows)] + [json.loads(last)])
