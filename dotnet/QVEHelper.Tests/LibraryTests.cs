// SPDX-License-Identifier: Apache-2.0
using System;
using System.IO;
using System.Linq;
using System.Runtime.InteropServices;
using System.Threading;
using QVEHelper;
using Xunit;

// One test changes the process's effective user: nothing else may run then.
[assembly: CollectionBehavior(DisableTestParallelization = true)]

namespace QVEHelper.Tests;

// The tests run against the Linux library, as the suite builds it.
[System.Runtime.Versioning.UnsupportedOSPlatform("windows")]
public sealed class LibraryTests : IDisposable
{
    private static readonly string Examples = Path.Combine(Repository(), "examples");
    private readonly string folder = Directory.CreateTempSubdirectory("qve-dotnet-").FullName;

    static LibraryTests()
    {
        // As the suite sets it; a plain `dotnet test` finds the dev build.
        if (string.IsNullOrEmpty(Environment.GetEnvironmentVariable("QVEHELPER_LIBRARY")))
        {
            Environment.SetEnvironmentVariable("QVEHELPER_LIBRARY",
                                               Path.Combine(Repository(), "build/dev/libqvehelper.so.1"));
        }
    }

    public void Dispose() => Directory.Delete(folder, recursive: true);

    private static string Repository()
    {
        var at = new DirectoryInfo(AppContext.BaseDirectory);
        while (!File.Exists(Path.Combine(at.FullName, "CMakePresets.json")))
        {
            at = at.Parent ?? throw new InvalidOperationException("not inside the repository");
        }
        return at.FullName;
    }

    [Theory]
    [InlineData(false, VerificationStatus.Ok)]
    [InlineData(true, VerificationStatus.Incomplete)]
    public void NewestLogThatCannotBeReadLeavesTheRunIncomplete(bool unreadable, VerificationStatus status)
    {
        // nobody, not root, reads the logs: root reads any file whatever its mode.
        File.SetUnixFileMode(folder, (UnixFileMode)0b111_101_101);
        foreach (string log in Directory.GetFiles(Path.Combine(Examples, "logs")))
        {
            string copy = Path.Combine(folder, Path.GetFileName(log));
            File.Copy(log, copy);
            File.SetUnixFileMode(copy, unreadable && copy.EndsWith("system.log") ? 0 : (UnixFileMode)0b110_100_100);
        }

        VerificationResult result;
        using (AsNobody())
        {
            result = Verification.Run(new[] { folder });
        }

        Assert.Equal(status, result.Status);
        Assert.Equal(3, result.Files.Count);
        Assert.Equal(unreadable, result.Warnings.Any(warning => warning.Unverified));
    }

    [Fact]
    public void BlocksSayWhereTheyStandInTheChain()
    {
        VerificationResult result = Verification.Run(new[] { Path.Combine(Examples, "logs") });

        foreach (VerifiedFile file in result.Files)
        {
            var signed = file.Blocks.Where(block => block.Verdict != BlockVerdict.BlockUnsigned).ToList();
            Assert.NotEmpty(signed);
            Assert.Equal(BlockChain.First, signed[0].Chain);
            Assert.All(signed.Skip(1), block => Assert.Equal(BlockChain.Matches, block.Chain));
        }
    }

    [Theory]
    [InlineData(-1, DecryptResult.Success)]
    [InlineData(700, DecryptResult.BadSignature)]
    [InlineData(5, DecryptResult.HeaderInvalid)]
    public void DecryptionThatFailsLeavesTheOutputAsItWas(int flipped, DecryptResult expected)
    {
        byte[] container = File.ReadAllBytes(Path.Combine(Examples, "sample.qves"));
        if (flipped >= 0)
        {
            container[flipped] ^= 0xff;
        }
        string input = Path.Combine(folder, "in.qves");
        string output = Path.Combine(folder, "out.txt");
        File.WriteAllBytes(input, container);
        File.WriteAllText(output, "before");

        if (expected == DecryptResult.Success)
        {
            Decryptor.Decrypt(input, output);
            Assert.Equal(File.ReadAllBytes(Path.Combine(Examples, "sample.txt")), File.ReadAllBytes(output));
        }
        else
        {
            var error = Assert.Throws<DecryptionException>(() => Decryptor.Decrypt(input, output));
            Assert.Equal(expected, error.Result);
            Assert.Equal("before", File.ReadAllText(output));
        }
        Assert.Equal(expected, Decryptor.Check(input));
        Assert.Equal(expected, Decryptor.Inspect(input).Result);
        Assert.Equal(2, Directory.GetFiles(folder).Length);
    }

    [Theory]
    [InlineData(true)]
    [InlineData(false)]
    public void StoppedDecryptionLeavesNoOutput(bool cancelled)
    {
        string output = Path.Combine(folder, "out.txt");
        using var cancellation = new CancellationTokenSource();
        var progress = new Inline(step =>
        {
            if (cancelled)
            {
                cancellation.Cancel();
            }
            else
            {
                throw new InvalidDataException("the host's own");
            }
        });

        Exception error = Record.Exception(() => Decryptor.Decrypt(Path.Combine(Examples, "sample.qves"), output,
                                                                  progress, cancellation.Token))!;

        Assert.IsType(cancelled ? typeof(OperationCanceledException) : typeof(InvalidDataException), error);
        Assert.Empty(Directory.GetFiles(folder));
    }

    [Theory]
    [InlineData("decrypt", "missing.qves")]
    [InlineData("check", "missing.qves")]
    [InlineData("inspect", "missing.qves")]
    [InlineData("verify", "missing.log")]
    [InlineData("verify", "\uD800.log")]
    public void MissingFileIsFileNotFound(string operation, string name)
    {
        string path = Path.Combine(folder, name);
        Action call = operation switch
        {
            "decrypt" => () => Decryptor.Decrypt(path, Path.Combine(folder, "out.txt")),
            "check" => () => Decryptor.Check(path),
            "inspect" => () => Decryptor.Inspect(path),
            _ => () => Verification.Run(new[] { path }),
        };

        var error = Assert.Throws<FileNotFoundException>(call);
        Assert.IsAssignableFrom<QveException>(error.InnerException);
        Assert.Empty(Directory.GetFiles(folder));
    }

    private sealed class Inline(Action<DecryptProgress> report) : IProgress<DecryptProgress>
    {
        public void Report(DecryptProgress value) => report(value);
    }

    // glibc's seteuid changes every thread of the process; the real and saved
    // user stay root, so the scope can give root back.
    private static IDisposable? AsNobody()
    {
        if (geteuid() != 0)
        {
            return null;
        }
        const uint nobody = 65534;
        if (setegid(nobody) != 0 || seteuid(nobody) != 0)
        {
            throw new InvalidOperationException($"cannot become nobody: errno {Marshal.GetLastPInvokeError()}");
        }
        return new Root();
    }

    private sealed class Root : IDisposable
    {
        public void Dispose()
        {
            if (seteuid(0) != 0 || setegid(0) != 0)
            {
                Environment.FailFast("cannot become root again");
            }
        }
    }

    [DllImport("libc", SetLastError = true)]
    private static extern uint geteuid();
    [DllImport("libc", SetLastError = true)]
    private static extern int seteuid(uint user);
    [DllImport("libc", SetLastError = true)]
    private static extern int setegid(uint group);
}
