#pragma once

// The table of every pushed load and the views on it, as the server holds them. The column
// names avoid the words SQL keeps for itself: the record's start, end, user, file, of and
// unitSerial are started, ended, user_name, data_file, block_count and unit_serial.
namespace Kv402::RecordSchema {

// Held while the table is looked for and made, so that two PCs pushing first together do not
// both make it. The number is the table's own: "kv402" in ASCII.
inline constexpr char CreationLock[] = "SELECT pg_advisory_xact_lock(461544632370)";

inline constexpr char TableExists[] = "SELECT to_regclass('kv402_loads') IS NOT NULL";

// bundle, bundle_revision and bundle_manifest name the signed bundle a load came from: empty, and
// no revision, for a load from a folder without one.
// line keeps the record's line as it was written, byte for byte: the text columns cannot hold a
// NUL character, which they show as U+FFFD.
inline constexpr char CreateTable[] = R"(CREATE TABLE kv402_loads (
    id uuid PRIMARY KEY,
    started timestamptz,
    ended timestamptz,
    user_name text NOT NULL,
    host text NOT NULL,
    program text NOT NULL,
    port text NOT NULL,
    device text NOT NULL,
    revision text NOT NULL,
    version text NOT NULL,
    language text NOT NULL,
    data_file text NOT NULL,
    sha256 text NOT NULL,
    blocks integer NOT NULL,
    block_count integer NOT NULL,
    errors integer NOT NULL,
    unit_serial text NOT NULL,
    outcome text NOT NULL,
    bundle text NOT NULL,
    bundle_revision bigint,
    bundle_manifest text NOT NULL,
    line bytea NOT NULL,
    pushed timestamptz NOT NULL DEFAULT now()
))";

// The days are those of the reader's time zone.
inline constexpr char CreateLoadsPerDay[] = R"(CREATE VIEW kv402_loads_per_day AS
SELECT started::date AS day, outcome, count(*) AS loads
FROM kv402_loads
GROUP BY started::date, outcome)";

inline constexpr char CreateLastLoadPerUnit[] = R"(CREATE VIEW kv402_last_load_per_unit AS
SELECT DISTINCT ON (unit_serial)
    unit_serial, started, ended, host, program, port, device, revision, version, language,
    data_file, sha256, blocks, block_count, outcome, id
FROM kv402_loads
WHERE unit_serial <> ''
ORDER BY unit_serial, started DESC NULLS LAST, ended DESC NULLS LAST, id)";

// A stopped load is neither a failure nor a success.
inline constexpr char CreateFailuresPerStation[] = R"(CREATE VIEW kv402_failures_per_station AS
SELECT host, program, port,
    count(*) FILTER (WHERE outcome NOT IN ('completed', 'stopped')) AS failures,
    count(*) AS loads,
    max(started) FILTER (WHERE outcome NOT IN ('completed', 'stopped')) AS last_failure
FROM kv402_loads
GROUP BY host, program, port)";

// The columns a push fills, in the order of its rows.
inline constexpr char Columns[]
    = "id, started, ended, user_name, host, program, port, device, revision, version, language, "
      "data_file, sha256, blocks, block_count, errors, unit_serial, outcome, bundle, "
      "bundle_revision, bundle_manifest, line";

// Lines on their way in, and the identities asked about; each push's rows go at its commit.
inline constexpr char CreateIncoming[]
    = "CREATE TEMPORARY TABLE kv402_incoming (LIKE kv402_loads INCLUDING DEFAULTS) "
      "ON COMMIT DELETE ROWS";
inline constexpr char CreateIncomingIds[]
    = "CREATE TEMPORARY TABLE kv402_incoming_ids (id uuid) ON COMMIT DELETE ROWS";
inline constexpr char CopyIds[] = "COPY kv402_incoming_ids (id) FROM STDIN";
inline constexpr char KnownIds[]
    = "SELECT i.id::text FROM kv402_incoming_ids i JOIN kv402_loads l ON l.id = i.id";
// Statements made with the columns above.
inline constexpr char CopyIncomingInto[] = "COPY kv402_incoming";
inline constexpr char InsertFromIncoming[] = "INSERT INTO kv402_loads";
inline constexpr char ConflictIgnored[] = "ON CONFLICT (id) DO NOTHING";

} // namespace Kv402::RecordSchema
