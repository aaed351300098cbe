// SPDX-License-Identifier: Apache-2.0
using System;
using System.Runtime.ExceptionServices;
using System.Runtime.InteropServices;
using System.Threading;

namespace QVEHelper
{
    /// <summary>What <see cref="Decryptor.Inspect"/> finds in a container, without writing anything.</summary>
    public sealed record ContainerDiagnosis
    {
        /// <summary>The file's size.</summary>
        public ulong Size { get; init; }
        /// <summary>Where reading the header stopped: 0 it is complete.</summary>
        public int HeaderStatus { get; init; }
        /// <summary>The header reader's name for <see cref="HeaderStatus"/>.</summary>
        public string HeaderStatusName { get; init; } = "";
        /// <summary>What is wrong with the header, in words; "" when nothing.</summary>
        public string HeaderProblem { get; init; } = "";
        /// <summary>The format version read; -1 where the file ends before it.</summary>
        public long Version { get; init; }
        /// <summary>The recipient count read; -1 where the file ends before it.</summary>
        public long RecipientCount { get; init; }
        /// <summary>The payload's length.</summary>
        public ulong PayloadLength { get; init; }
        /// <summary>The file was cut short.</summary>
        public bool CutShort { get; init; }
        /// <summary>The record whose key the built-in key opens; -1 for none.</summary>
        public long KeyRecord { get; init; }
        /// <summary>The cipher is ready with the session key.</summary>
        public bool KeyReady { get; init; }
        /// <summary>The plaintext's length.</summary>
        public ulong PlaintextLength { get; init; }
        /// <summary>A seal trailer was found.</summary>
        public bool SealFound { get; init; }
        /// <summary>What a decryption would give with an output that takes everything.</summary>
        public DecryptResult Result { get; init; }
        /// <summary>Why, in the container's terms; "" for Success.</summary>
        public string Cause { get; init; } = "";
    }

    /// <summary>
    /// Containers decrypted, checked and inspected. Every call runs on the calling
    /// thread; progress is reported on it, and cancellation is seen at each report.
    /// </summary>
    public static class Decryptor
    {
        /// <summary>
        /// Decrypts the container <paramref name="input"/> into <paramref name="output"/> and
        /// checks its seal. The plaintext replaces the output only when the seal matches; on any
        /// other outcome the output is left as it was and no temporary file remains, so no
        /// unverified plaintext is ever left behind.
        /// </summary>
        /// <exception cref="DecryptionException">The container does not decrypt or its seal does not match.</exception>
        /// <exception cref="System.IO.FileNotFoundException">The input, or the output's folder, does not exist.</exception>
        /// <exception cref="UnauthorizedAccessException">The input may not be read, or the output not written.</exception>
        /// <exception cref="System.IO.IOException">Any other cause in the files (a full disk, a device as input, ...).</exception>
        /// <exception cref="OperationCanceledException"><paramref name="cancellation"/> was cancelled.</exception>
        /// <exception cref="QveException">Any other failure of the library.</exception>
        public static void Decrypt(string input, string output, IProgress<DecryptProgress>? progress = null,
                                   CancellationToken cancellation = default)
        {
            if (input is null) throw new ArgumentNullException(nameof(input));
            if (output is null) throw new ArgumentNullException(nameof(output));
            var watch = new Watch(progress, cancellation);
            var options = new DecryptOptions { Size = Native.SizeOf<DecryptOptions>(), Progress = watch.Pointer };
            int code = Native.Wide
                ? Native.qve_decrypt_w(input, output, ref options)
                : Native.qve_decrypt(Native.Utf8Path(input), Native.Utf8Path(output), ref options);
            watch.Finish(code);
            if (code != (int)DecryptResult.Success)
            {
                throw Errors.Last(code, decryption: true);
            }
        }

        /// <summary>
        /// Decrypts the container and checks its seal, keeping no plaintext anywhere (it is
        /// checked in memory as it is decrypted). Gives what <see cref="Decrypt"/> would make
        /// of it; raises as <see cref="Decrypt"/> does for an input that does not open.
        /// </summary>
        public static DecryptResult Check(string input, IProgress<DecryptProgress>? progress = null,
                                          CancellationToken cancellation = default)
        {
            if (input is null) throw new ArgumentNullException(nameof(input));
            var watch = new Watch(progress, cancellation);
            var options = new CheckOptions { Size = Native.SizeOf<CheckOptions>(), Progress = watch.Pointer };
            int code = Native.Wide
                ? Native.qve_check_w(input, ref options)
                : Native.qve_check(Native.Utf8Path(input), ref options);
            watch.Finish(code);
            if (code < 0 || code == (int)DecryptResult.InputOpenFailed)
            {
                throw Errors.Last(code, decryption: true);
            }
            return (DecryptResult)code;
        }

        /// <summary>
        /// What a decryption makes of the container, step by step, decrypting it once in
        /// memory; nothing is written. Any file is inspected: one that is no container
        /// stops at its magic.
        /// </summary>
        public static ContainerDiagnosis Inspect(string input)
        {
            if (input is null) throw new ArgumentNullException(nameof(input));
            var options = new DiagnoseOptions { Size = Native.SizeOf<DiagnoseOptions>(), Decrypt = 1 };
            DiagnosisHandle diagnosis;
            int code = Native.Wide
                ? Native.qve_diagnose_container_w(input, ref options, out diagnosis)
                : Native.qve_diagnose_container(Native.Utf8Path(input), ref options, out diagnosis);
            using (diagnosis)
            {
                if (code < 0)
                {
                    throw Errors.Last(code);
                }
                int result = Native.qve_diagnosis_seal_result(diagnosis);
                return new ContainerDiagnosis
                {
                    Size = Native.qve_diagnosis_size(diagnosis),
                    HeaderStatus = Native.qve_diagnosis_header_status(diagnosis),
                    HeaderStatusName = Native.Text(Native.qve_diagnosis_header_status_name(diagnosis)),
                    HeaderProblem = Native.Text(Native.qve_diagnosis_header_problem(diagnosis)),
                    Version = Native.qve_diagnosis_version(diagnosis),
                    RecipientCount = Native.qve_diagnosis_recipient_count(diagnosis),
                    PayloadLength = Native.qve_diagnosis_payload_length(diagnosis),
                    CutShort = Native.qve_diagnosis_cut_short(diagnosis) == 1,
                    KeyRecord = Native.qve_diagnosis_key_record(diagnosis),
                    KeyReady = Native.qve_diagnosis_key_ready(diagnosis) == 1,
                    PlaintextLength = Native.qve_diagnosis_seal_plaintext_length(diagnosis),
                    SealFound = Native.qve_diagnosis_seal_found(diagnosis) == 1,
                    Result = (DecryptResult)result,
                    Cause = Native.Text(Native.qve_diagnosis_cause(diagnosis, result)),
                };
            }
        }

        // The progress callback: it reports, and asks the library to stop when
        // cancelled or when the host's progress throws; no exception crosses
        // into the library, and the host's comes out of the call.
        private sealed class Watch
        {
            private readonly IProgress<DecryptProgress>? progress;
            private readonly CancellationToken cancellation;
            private readonly ProgressCallback callback;
            private ExceptionDispatchInfo? raised;

            internal Watch(IProgress<DecryptProgress>? progress, CancellationToken cancellation)
            {
                this.progress = progress;
                this.cancellation = cancellation;
                callback = Report;
                Pointer = progress is null && !cancellation.CanBeCanceled
                    ? IntPtr.Zero
                    : Marshal.GetFunctionPointerForDelegate(callback);
            }

            internal IntPtr Pointer { get; }

            private int Report(ulong done, ulong total, int step, IntPtr context)
            {
                try
                {
                    progress?.Report(new DecryptProgress(done, total, (DecryptStep)step));
                    return cancellation.IsCancellationRequested ? 1 : 0;
                }
                catch (Exception error)
                {
                    raised = ExceptionDispatchInfo.Capture(error);
                    return 1;
                }
            }

            internal void Finish(int code)
            {
                GC.KeepAlive(callback);
                raised?.Throw();
                if (code == Errors.Cancelled)
                {
                    cancellation.ThrowIfCancellationRequested();
                }
            }
        }
    }
}
