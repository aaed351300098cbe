// SPDX-License-Identifier: Apache-2.0
using System;
using System.Collections.Generic;
using System.Linq;
using System.Threading;
#if NET8_0_OR_GREATER
using System.Runtime.CompilerServices;
using System.Threading.Tasks;
#endif

namespace QVEHelper
{
    /// <summary>How a chain is verified.</summary>
    public sealed record VerificationOptions
    {
        /// <summary>The order the files are taken in (<see cref="VerificationOrder.Links"/> by default).</summary>
        public VerificationOrder Order { get; init; } = VerificationOrder.Links;
        /// <summary>Apply the strict policy (<see cref="VerificationStatus.StrictPolicyFailed"/>).</summary>
        public bool Strict { get; init; }
        /// <summary>Keep every block of every file in the result (as <c>--details</c>).</summary>
        public bool Details { get; init; } = true;
        /// <summary>The checkpoint record to hold the chain to, as stored; null for none.</summary>
        public byte[]? Checkpoint { get; init; }
        /// <summary>Make the first checkpoint record (with <see cref="Checkpoint"/> null).</summary>
        public bool NewCheckpoint { get; init; }
        /// <summary>Read each file once: one that changes while read is said to be.</summary>
        public bool Once { get; init; }
        /// <summary>Give the new record whatever the run found.</summary>
        public bool Accept { get; init; }
        /// <summary>With a record: days without growth after which the chain is stale (0: never).</summary>
        public uint StaleAfterDays { get; init; }
        /// <summary>With strict: the newest file's longest allowed unsigned tail (0: the longest block).</summary>
        public uint MaxUnsignedLines { get; init; }
    }

    /// <summary>A block of a file.</summary>
    public sealed record VerifiedBlock
    {
        /// <summary>The file's index in the run.</summary>
        public int File { get; init; }
        /// <summary>The block's verdict.</summary>
        public BlockVerdict Verdict { get; init; }
        /// <summary>First line.</summary>
        public uint FirstLine { get; init; }
        /// <summary>Last line.</summary>
        public uint LastLine { get; init; }
        /// <summary>File offset of its signature line.</summary>
        public ulong Offset { get; init; }
        /// <summary>Its id.</summary>
        public uint Id { get; init; }
        /// <summary>Its link is the chain value before it.</summary>
        public bool LinkMatched { get; init; }
        /// <summary>It stands at its signature line alone.</summary>
        public bool CoversNoLine { get; init; }
        /// <summary>How its signature line parses: 0 it does.</summary>
        public int Parse { get; init; }
        /// <summary>Where it stands in its file's chain.</summary>
        public BlockChain Chain { get; init; }
        /// <summary>Where parsing stopped, in words.</summary>
        public string Stop { get; init; } = "";
        /// <summary>The link it carries; null when none.</summary>
        public byte[]? Link { get; init; }
        /// <summary>Its signature's length.</summary>
        public ulong SignatureLength { get; init; }
    }

    /// <summary>A warning: what a verdict cannot say.</summary>
    public sealed record VerificationWarning
    {
        /// <summary>Its code (QVE_WARNING_*).</summary>
        public int Code { get; init; }
        /// <summary>The code's name.</summary>
        public string Name { get; init; } = "";
        /// <summary>The path it is about.</summary>
        public string Path { get; init; } = "";
        /// <summary>Its text.</summary>
        public string Text { get; init; } = "";
        /// <summary>Something that could hold evidence was not verified.</summary>
        public bool Unverified { get; init; }
    }

    /// <summary>A file of the run, with every fact the run keeps of it.</summary>
    public sealed record VerifiedFile
    {
        /// <summary>Index in the run's order.</summary>
        public int Index { get; init; }
        /// <summary>Name.</summary>
        public string Name { get; init; } = "";
        /// <summary>Path.</summary>
        public string Path { get; init; } = "";
        /// <summary>Verdict.</summary>
        public FileVerdict Verdict { get; init; }
        /// <summary>Blocks.</summary>
        public uint BlockCount { get; init; }
        /// <summary>Bad blocks.</summary>
        public uint BadBlockCount { get; init; }
        /// <summary>Lines.</summary>
        public uint Lines { get; init; }
        /// <summary>Signature lines.</summary>
        public uint SignatureLines { get; init; }
        /// <summary>First line of the unsigned tail; 0 for none.</summary>
        public uint UnsignedFirst { get; init; }
        /// <summary>Last line of the unsigned tail; 0 for none.</summary>
        public uint UnsignedLast { get; init; }
        /// <summary>The link of its first signed block; null for none.</summary>
        public byte[]? FirstLink { get; init; }
        /// <summary>The chain value after its last block; null for none.</summary>
        public byte[]? LastChainValue { get; init; }
        /// <summary>First line with bytes after a NUL; 0 for none.</summary>
        public uint NulFirstLine { get; init; }
        /// <summary>Lines with bytes after a NUL.</summary>
        public uint NulLines { get; init; }
        /// <summary>Bytes after NULs.</summary>
        public ulong NulBytes { get; init; }
        /// <summary>Line of an end-of-input byte with bytes after it; 0 for none.</summary>
        public uint EndOfInputLine { get; init; }
        /// <summary>Offset of that byte.</summary>
        public ulong EndOfInputOffset { get; init; }
        /// <summary>Bytes after it.</summary>
        public ulong EndOfInputBytes { get; init; }
        /// <summary>The file opened.</summary>
        public bool Opened { get; init; }
        /// <summary>The file changed while it was read.</summary>
        public bool ChangedWhileRead { get; init; }
        /// <summary>Why it could not be read whole; "" when it could.</summary>
        public string ReadFault { get; init; } = "";
        /// <summary>The unreadable file its chain break follows from; "" for none.</summary>
        public string BreakFollows { get; init; } = "";
        /// <summary>Its blocks, with <see cref="VerificationOptions.Details"/>.</summary>
        public IReadOnlyList<VerifiedBlock> Blocks { get; init; } = Array.Empty<VerifiedBlock>();
    }

    /// <summary>Why a run fails the strict policy.</summary>
    public sealed record StrictReason
    {
        /// <summary>The reason (QVE_STRICT_*).</summary>
        public int Code { get; init; }
        /// <summary>The reason's name.</summary>
        public string Name { get; init; } = "";
        /// <summary>The path it is about.</summary>
        public string Path { get; init; } = "";
        /// <summary>Its text.</summary>
        public string Text { get; init; } = "";
    }

    /// <summary>A block of the chain a record is about.</summary>
    public sealed record CheckpointPoint
    {
        /// <summary>Its file's name.</summary>
        public string File { get; init; } = "";
        /// <summary>Its signature line.</summary>
        public uint Line { get; init; }
        /// <summary>Its id.</summary>
        public uint Id { get; init; }
        /// <summary>Its file's index in the run (held and now points).</summary>
        public int FileIndex { get; init; }
        /// <summary>The chain value after it.</summary>
        public byte[]? ChainValue { get; init; }
        /// <summary>The chain value its run started from.</summary>
        public byte[]? Start { get; init; }
        /// <summary>When it was recorded (RFC 3339).</summary>
        public string Time { get; init; } = "";
        /// <summary>When the record's block last changed (RFC 3339).</summary>
        public string Grew { get; init; } = "";
    }

    /// <summary>What became of the checkpoint record.</summary>
    public sealed record CheckpointOutcome
    {
        /// <summary>New, extended or lost.</summary>
        public CheckpointState State { get; init; }
        /// <summary>The run starts later than the recorded one.</summary>
        public bool StartsLater { get; init; }
        /// <summary>Why no new record is given; "" when one is.</summary>
        public string NotRecorded { get; init; } = "";
        /// <summary>The block the given record holds.</summary>
        public CheckpointPoint? Recorded { get; init; }
        /// <summary>Where this run holds it.</summary>
        public CheckpointPoint? Held { get; init; }
        /// <summary>The newest block this run verified.</summary>
        public CheckpointPoint? Now { get; init; }
        /// <summary>The oldest block the record vouches for.</summary>
        public CheckpointPoint? Oldest { get; init; }
        /// <summary>Files of the recorded history that left its old end, when known.</summary>
        public uint? HistoryLeftFiles { get; init; }
        /// <summary>Lines of the recorded history that left its old end, when known.</summary>
        public uint? HistoryLeftLines { get; init; }
        /// <summary>More files left the old end than arrived at the new end.</summary>
        public bool Shrunk { get; init; }
        /// <summary>The record has not grown for the stale days.</summary>
        public bool Stale { get; init; }
    }

    /// <summary>Everything <c>qvehelper verify --json --details --include-ok</c> tells of a chain.</summary>
    public sealed record VerificationResult
    {
        /// <summary>The status, 0 to 6, as the command exits.</summary>
        public VerificationStatus Status { get; init; }
        /// <summary>The report's result.</summary>
        public ReportResult Result { get; init; }
        /// <summary>Files.</summary>
        public int TotalFiles { get; init; }
        /// <summary>Bad files.</summary>
        public int BadFiles { get; init; }
        /// <summary>The order taken.</summary>
        public VerificationOrder Order { get; init; }
        /// <summary>The data lines of the chain's longest signed block.</summary>
        public uint LongestBlock { get; init; }
        /// <summary>Every file, good ones too.</summary>
        public IReadOnlyList<VerifiedFile> Files { get; init; } = Array.Empty<VerifiedFile>();
        /// <summary>The warnings.</summary>
        public IReadOnlyList<VerificationWarning> Warnings { get; init; } = Array.Empty<VerificationWarning>();
        /// <summary>Why the strict policy fails (with <see cref="VerificationOptions.Strict"/>).</summary>
        public IReadOnlyList<StrictReason> StrictReasons { get; init; } = Array.Empty<StrictReason>();
        /// <summary>What became of the record, when one was given or asked for.</summary>
        public CheckpointOutcome? Checkpoint { get; init; }
        /// <summary>The new record to store in place of the old; null when none.</summary>
        public byte[]? Record { get; init; }
    }

    /// <summary>One event of a run, in order.</summary>
    public sealed record VerificationEvent
    {
        /// <summary>The kind.</summary>
        public VerificationEventKind Kind { get; init; }
        /// <summary>The file's index (file start, block, file end).</summary>
        public int File { get; init; }
        /// <summary>The file's path (file start).</summary>
        public string? Path { get; init; }
        /// <summary>The reading (file start): above 1 when it changed while read.</summary>
        public int Reading { get; init; }
        /// <summary>The block.</summary>
        public VerifiedBlock? Block { get; init; }
        /// <summary>The warning.</summary>
        public VerificationWarning? Warning { get; init; }
        /// <summary>The file's facts (file end).</summary>
        public VerifiedFile? FileFacts { get; init; }
        /// <summary>The whole result (done).</summary>
        public VerificationResult? Result { get; init; }
    }

    /// <summary>Verification of a chain of logs, as <c>qvehelper verify</c> verifies it.</summary>
    public static class Verification
    {
        private const int ResultOfWarning = 4;
        private const int ResultOfStrict = 5;

        /// <summary>
        /// Verifies the files and folders (every log below a folder) as one chain.
        /// </summary>
        /// <exception cref="System.IO.FileNotFoundException">A path does not exist.</exception>
        /// <exception cref="UnauthorizedAccessException">A folder may not be read.</exception>
        /// <exception cref="System.IO.IOException">A path cannot be used (a folder with no log, ...).</exception>
        /// <exception cref="QveException">A record refused, or any other failure of the library.</exception>
        public static VerificationResult Run(IEnumerable<string> paths, VerificationOptions? options = null,
                                             CancellationToken cancellation = default)
        {
            VerificationResult? result = null;
            foreach (VerificationEvent found in Events(paths, options, cancellation))
            {
                result = found.Result ?? result;
            }
            return result!;
        }

        /// <summary>
        /// The run's events as it goes, each as soon as it is known; the run's memory
        /// stays flat however long the logs are. The last event is
        /// <see cref="VerificationEventKind.Done"/>, with the whole result.
        /// </summary>
        public static IEnumerable<VerificationEvent> Events(IEnumerable<string> paths, VerificationOptions? options = null,
                                                            CancellationToken cancellation = default)
        {
            var run = new Chain(paths, options ?? new VerificationOptions());
            return run.Events(cancellation);
        }

#if NET8_0_OR_GREATER
        /// <summary>
        /// <see cref="Events"/> without holding the caller's thread: each step of the run
        /// runs on the thread pool.
        /// </summary>
        public static async IAsyncEnumerable<VerificationEvent> EventsAsync(
            IEnumerable<string> paths, VerificationOptions? options = null,
            [EnumeratorCancellation] CancellationToken cancellation = default)
        {
            using var run = new Chain(paths, options ?? new VerificationOptions());
            while (true)
            {
                cancellation.ThrowIfCancellationRequested();
                VerificationEvent found = await Task.Run(run.Next, cancellation).ConfigureAwait(false);
                yield return found;
                if (found.Kind == VerificationEventKind.Done)
                {
                    yield break;
                }
            }
        }
#endif

        private sealed class Chain : IDisposable
        {
            private readonly RunHandle handle;
            private readonly VerificationOptions options;
            private readonly Dictionary<int, List<VerifiedBlock>> blocks = new();
            private readonly List<VerificationWarning> warnings = new();

            internal Chain(IEnumerable<string> paths, VerificationOptions options)
            {
                if (paths is null) throw new ArgumentNullException(nameof(paths));
                this.options = options;
                var native = new RunOptions
                {
                    Size = Native.SizeOf<RunOptions>(),
                    Order = options.Order == VerificationOrder.Name ? 1 : 0,
                    Strict = options.Strict ? 1 : 0,
                    Once = options.Once ? 1 : 0,
                    MaxUnsignedLines = options.MaxUnsignedLines,
                    StaleAfterDays = options.StaleAfterDays,
                    Accept = options.Accept ? 1 : 0,
                };
                int code = Native.qve_run_create(ref native, out handle);
                if (code < 0)
                {
                    handle.Dispose();
                    throw Errors.Last(code);
                }
                try
                {
                    foreach (string path in paths)
                    {
                        if (path is null) throw new ArgumentNullException(nameof(paths));
                        code = Native.Wide ? Native.qve_run_add_w(handle, path) : Native.qve_run_add(handle, Native.Utf8Path(path));
                        if (code < 0)
                        {
                            throw Errors.Last(code);
                        }
                    }
                    if (options.Checkpoint is not null || options.NewCheckpoint)
                    {
                        byte[]? record = options.Checkpoint;
                        code = Native.qve_run_set_record(handle, record, (UIntPtr)(uint)(record?.Length ?? 0),
                                                         record is null ? 1 : 0);
                        if (code < 0)
                        {
                            throw Errors.Last(code);
                        }
                    }
                }
                catch
                {
                    handle.Dispose();
                    throw;
                }
            }

            public void Dispose() => handle.Dispose();

            internal IEnumerable<VerificationEvent> Events(CancellationToken cancellation)
            {
                using (this)
                {
                    while (true)
                    {
                        cancellation.ThrowIfCancellationRequested();
                        VerificationEvent found = Next();
                        yield return found;
                        if (found.Kind == VerificationEventKind.Done)
                        {
                            yield break;
                        }
                    }
                }
            }

            internal VerificationEvent Next()
            {
                int kind;
                do
                {
                    kind = Native.qve_run_next(handle);
                    if (kind < 0)
                    {
                        throw Errors.Last(kind);
                    }
                }
                while (!Enum.IsDefined(typeof(VerificationEventKind), kind)); // a kind of a later library
                int file = (int)Native.qve_run_event_file(handle).ToUInt64();
                switch ((VerificationEventKind)kind)
                {
                    case VerificationEventKind.FileStart:
                        blocks[file] = new List<VerifiedBlock>();
                        return new VerificationEvent
                        {
                            Kind = VerificationEventKind.FileStart, File = file,
                            Path = Native.PathText(Native.qve_run_event_path(handle)),
                            Reading = Native.qve_run_event_reading(handle),
                        };
                    case VerificationEventKind.Block:
                        VerifiedBlock block = Block(file);
                        if (options.Details)
                        {
                            blocks[file].Add(block);
                        }
                        return new VerificationEvent { Kind = VerificationEventKind.Block, File = file, Block = block };
                    case VerificationEventKind.Warning:
                        int code = Native.qve_run_warning_code(handle);
                        var warning = new VerificationWarning
                        {
                            Code = code, Name = Errors.Name(ResultOfWarning, code),
                            Path = Native.PathText(Native.qve_run_warning_path(handle)),
                            Text = Native.Text(Native.qve_run_warning_text(handle)),
                            Unverified = Native.qve_run_warning_unverified(handle) == 1,
                        };
                        warnings.Add(warning);
                        return new VerificationEvent { Kind = VerificationEventKind.Warning, Warning = warning };
                    case VerificationEventKind.FileEnd:
                        return new VerificationEvent { Kind = VerificationEventKind.FileEnd, File = file, FileFacts = File(file) };
                    case VerificationEventKind.Restart:
                        blocks.Clear();
                        warnings.Clear();
                        return new VerificationEvent { Kind = VerificationEventKind.Restart };
                    default: // Done
                        return new VerificationEvent { Kind = VerificationEventKind.Done, Result = Result() };
                }
            }

            private VerifiedBlock Block(int file) => new()
            {
                File = file,
                Verdict = (BlockVerdict)Native.qve_run_block_verdict(handle),
                FirstLine = Native.qve_run_block_first_line(handle),
                LastLine = Native.qve_run_block_last_line(handle),
                Offset = Native.qve_run_block_offset(handle),
                Id = Native.qve_run_block_id(handle),
                LinkMatched = Native.qve_run_block_link_matched(handle) == 1,
                CoversNoLine = Native.qve_run_block_covers_no_line(handle) == 1,
                Parse = Native.qve_run_block_parse(handle),
                Chain = (BlockChain)Native.qve_run_block_chain(handle),
                Stop = Native.Text(Native.qve_run_block_stop(handle)),
                Link = Native.Bytes(Native.qve_run_block_link(handle, out UIntPtr length), length),
                SignatureLength = Native.qve_run_block_signature_length(handle),
            };

            private VerifiedFile File(int index)
            {
                var at = (UIntPtr)(uint)index;
                return new VerifiedFile
                {
                    Index = index,
                    Name = Native.PathText(Native.qve_run_file_name(handle, at)),
                    Path = Native.PathText(Native.qve_run_file_path(handle, at)),
                    Verdict = (FileVerdict)Native.qve_run_file_verdict(handle, at),
                    BlockCount = Native.qve_run_file_blocks(handle, at),
                    BadBlockCount = Native.qve_run_file_bad_blocks(handle, at),
                    Lines = Native.qve_run_file_lines(handle, at),
                    SignatureLines = Native.qve_run_file_signature_lines(handle, at),
                    UnsignedFirst = Native.qve_run_file_unsigned_first(handle, at),
                    UnsignedLast = Native.qve_run_file_unsigned_last(handle, at),
                    FirstLink = Native.Bytes(Native.qve_run_file_first_link(handle, at, out UIntPtr first), first),
                    LastChainValue = Native.Bytes(Native.qve_run_file_last_chain_value(handle, at, out UIntPtr last), last),
                    NulFirstLine = Native.qve_run_file_nul_first_line(handle, at),
                    NulLines = Native.qve_run_file_nul_lines(handle, at),
                    NulBytes = Native.qve_run_file_nul_bytes(handle, at),
                    EndOfInputLine = Native.qve_run_file_end_of_input_line(handle, at),
                    EndOfInputOffset = Native.qve_run_file_end_of_input_offset(handle, at),
                    EndOfInputBytes = Native.qve_run_file_end_of_input_bytes(handle, at),
                    Opened = Native.qve_run_file_opened(handle, at) == 1,
                    ChangedWhileRead = Native.qve_run_file_changed_while_read(handle, at) == 1,
                    ReadFault = Native.Text(Native.qve_run_file_read_fault(handle, at)),
                    BreakFollows = Native.PathText(Native.qve_run_file_break_follows(handle, at)),
                    Blocks = blocks.TryGetValue(index, out List<VerifiedBlock>? kept) ? kept : Array.Empty<VerifiedBlock>(),
                };
            }

            private CheckpointPoint? Point(int point)
            {
                if (Native.qve_run_point_known(handle, point) != 1)
                {
                    return null;
                }
                return new CheckpointPoint
                {
                    File = Native.PathText(Native.qve_run_point_file(handle, point)),
                    Line = Native.qve_run_point_line(handle, point),
                    Id = Native.qve_run_point_id(handle, point),
                    FileIndex = (int)Native.qve_run_point_file_index(handle, point).ToUInt64(),
                    ChainValue = Native.Bytes(Native.qve_run_point_chain_value(handle, point, out UIntPtr value), value),
                    Start = Native.Bytes(Native.qve_run_point_start(handle, point, out UIntPtr start), start),
                    Time = Native.Text(Native.qve_run_point_time(handle, point)),
                    Grew = Native.Text(Native.qve_run_point_grew(handle, point)),
                };
            }

            private VerificationResult Result()
            {
                CheckpointOutcome? checkpoint = null;
                if (options.Checkpoint is not null || options.NewCheckpoint)
                {
                    bool left = Native.qve_run_checkpoint_history_left(handle, out uint files, out uint lines) == 1;
                    checkpoint = new CheckpointOutcome
                    {
                        State = (CheckpointState)Native.qve_run_checkpoint(handle),
                        StartsLater = Native.qve_run_checkpoint_starts_later(handle) == 1,
                        NotRecorded = Native.Text(Native.qve_run_checkpoint_not_recorded(handle)),
                        Recorded = Point(0), Held = Point(1), Now = Point(2), Oldest = Point(3),
                        HistoryLeftFiles = left ? files : null,
                        HistoryLeftLines = left ? lines : null,
                        Shrunk = Native.qve_run_checkpoint_shrunk(handle) == 1,
                        Stale = Native.qve_run_checkpoint_stale(handle) == 1,
                    };
                }
                int count = (int)Native.qve_run_file_count(handle).ToUInt64();
                int reasons = (int)Native.qve_run_strict_count(handle).ToUInt64();
                return new VerificationResult
                {
                    Status = (VerificationStatus)Native.qve_run_status(handle),
                    Result = (ReportResult)Native.qve_run_result(handle),
                    TotalFiles = Native.qve_run_total_files(handle),
                    BadFiles = Native.qve_run_bad_files(handle),
                    Order = (VerificationOrder)Native.qve_run_order(handle),
                    LongestBlock = Native.qve_run_longest_block(handle),
                    Files = Enumerable.Range(0, count).Select(File).ToArray(),
                    Warnings = warnings.ToArray(),
                    StrictReasons = Enumerable.Range(0, reasons).Select(index =>
                    {
                        var at = (UIntPtr)(uint)index;
                        int reason = Native.qve_run_strict_reason(handle, at);
                        return new StrictReason
                        {
                            Code = reason, Name = Errors.Name(ResultOfStrict, reason),
                            Path = Native.PathText(Native.qve_run_strict_path(handle, at)),
                            Text = Native.Text(Native.qve_run_strict_text(handle, at)),
                        };
                    }).ToArray(),
                    Checkpoint = checkpoint,
                    Record = Native.Bytes(Native.qve_run_record(handle, out UIntPtr length), length),
                };
            }
        }
    }
}
